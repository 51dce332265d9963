#include "views/chartvalueaxis.h"

#include <algorithm>
#include <cmath>

namespace {
struct Span {
    double low = 0;
    double high = 0;
    bool any = false;

    void take(const QList<QPointF> &points)
    {
        for (const QPointF &p : points) {
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            any = true;
        }
    }
};
} // namespace

TChartValueRange FitChartValueAxis(const QList<QPointF> &values, const QList<const QList<QPointF> *> &thresholds)
{
    Span span;
    span.take(values);
    if (!span.any) {
        // No values: the thresholds alone, or a plain 0 to 1.
        for (const QList<QPointF> *line : thresholds)
            span.take(*line);
        if (!span.any)
            return {};
    }
    const double valueHeight = span.high - span.low;
    // The room the values may share with thresholds: twice their own again.
    const double room = 3 * std::max(valueHeight, std::max(1.0, std::abs(span.high) * 0.1));
    if (!values.isEmpty()) {
        for (const QList<QPointF> *line : thresholds) {
            Span wider = span;
            wider.take(*line);
            if (wider.high - wider.low <= room)
                span = wider;
        }
    }
    const double height = span.high - span.low;
    const double margin = height > 0 ? height * 0.05 : std::max(1.0, std::abs(span.high) * 0.05);
    // Activities are never negative: the axis then starts at zero, not below.
    const double low = span.low >= 0 ? std::max(0.0, span.low - margin) : span.low - margin;
    return {low, span.high + margin};
}

TThresholdPlace ChartThresholdPlace(const QList<QPointF> &threshold, const TChartValueRange &axis)
{
    if (threshold.isEmpty())
        return TThresholdPlace::Inside;
    const auto above = [&](const QPointF &p) { return p.y() > axis.Max; };
    const auto below = [&](const QPointF &p) { return p.y() < axis.Min; };
    if (std::all_of(threshold.begin(), threshold.end(), above))
        return TThresholdPlace::Above;
    if (std::all_of(threshold.begin(), threshold.end(), below))
        return TThresholdPlace::Below;
    return TThresholdPlace::Inside;
}
