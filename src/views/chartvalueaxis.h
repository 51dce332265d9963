#pragma once
// The value axis of the archive chart, apart from any widget: fitted to the
// values shown, so that alarm thresholds far above them (ACTIVITY about 150
// under an ALARM2 of 6000) never squeeze the line flat. A threshold close to
// the values widens the axis to show its line; one farther off is shown as
// a mark at the plot's edge instead.

#include <QList>
#include <QPointF>

struct TChartValueRange {
    double Min = 0;
    double Max = 1;
};

// The values' span with a margin of 5 % on either side (a single value gets
// a span of its own), never below zero for values that are never negative.
// A threshold (all the levels of its step line) is taken in while the
// values still fill at least a third of the axis; the others are left out.
TChartValueRange FitChartValueAxis(const QList<QPointF> &values, const QList<const QList<QPointF> *> &thresholds);

// Where a threshold's levels stand against the axis: Above when every level
// lies above it, Below when every level lies below it, Inside otherwise (an
// empty line is Inside: nothing to mark).
enum class TThresholdPlace { Inside, Above, Below };
TThresholdPlace ChartThresholdPlace(const QList<QPointF> &threshold, const TChartValueRange &axis);
