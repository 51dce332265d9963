#include "analysis/calibrationfit.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_fit.h>
#include <gsl/gsl_multifit.h>

#include <cmath>
#include <memory>
#include <set>

namespace {

int distinctChannels(const std::vector<TCalibrationPoint> &points)
{
    std::set<double> channels;
    for (const TCalibrationPoint &p : points)
        channels.insert(p.Channel);
    return int(channels.size());
}

double rms(const std::vector<double> &values)
{
    double sum = 0;
    for (double v : values)
        sum += v * v;
    return values.empty() ? 0 : std::sqrt(sum / double(values.size()));
}

void fitQuadratic(const std::vector<TCalibrationPoint> &points, TCalibrationFit &fit)
{
    const size_t n = points.size();
    auto freeMatrix = [](gsl_matrix *m) { gsl_matrix_free(m); };
    auto freeVector = [](gsl_vector *v) { gsl_vector_free(v); };
    std::unique_ptr<gsl_matrix, decltype(freeMatrix)> X(gsl_matrix_alloc(n, 3), freeMatrix);
    std::unique_ptr<gsl_matrix, decltype(freeMatrix)> cov(gsl_matrix_alloc(3, 3), freeMatrix);
    std::unique_ptr<gsl_vector, decltype(freeVector)> y(gsl_vector_alloc(n), freeVector);
    std::unique_ptr<gsl_vector, decltype(freeVector)> c(gsl_vector_alloc(3), freeVector);
    std::unique_ptr<gsl_multifit_linear_workspace, decltype(&gsl_multifit_linear_free)> w(
        gsl_multifit_linear_alloc(n, 3), gsl_multifit_linear_free);
    for (size_t i = 0; i < n; ++i) {
        gsl_matrix_set(X.get(), i, 0, 1.0);
        gsl_matrix_set(X.get(), i, 1, points[i].Channel);
        gsl_matrix_set(X.get(), i, 2, points[i].Channel * points[i].Channel);
        gsl_vector_set(y.get(), i, points[i].EnergyKeV);
    }
    double chi2 = 0;
    if (gsl_multifit_linear(X.get(), y.get(), c.get(), cov.get(), &chi2, w.get()) != GSL_SUCCESS)
        return;
    fit.Q0 = gsl_vector_get(c.get(), 0);
    fit.Q1 = gsl_vector_get(c.get(), 1);
    fit.Q2 = gsl_vector_get(c.get(), 2);
    fit.QuadraticRms = std::sqrt(chi2 / double(n));
    fit.QuadraticValid = std::isfinite(fit.Q0) && std::isfinite(fit.Q1) && std::isfinite(fit.Q2);
}

} // namespace

TCalibrationFit FitCalibration(const std::vector<TCalibrationPoint> &points)
{
    gsl_set_error_handler_off();
    TCalibrationFit fit;
    const int distinct = distinctChannels(points);
    if (distinct < 2)
        return fit;
    std::vector<double> x, y;
    for (const TCalibrationPoint &p : points) {
        x.push_back(p.Channel);
        y.push_back(p.EnergyKeV);
    }
    double c0 = 0, c1 = 0, cov00 = 0, cov01 = 0, cov11 = 0, sumsq = 0;
    if (gsl_fit_linear(x.data(), 1, y.data(), 1, x.size(), &c0, &c1, &cov00, &cov01, &cov11, &sumsq) != GSL_SUCCESS ||
        !std::isfinite(c0) || !std::isfinite(c1))
        return fit;
    fit.Valid = true;
    fit.CoefA = c1;
    fit.CoefB = c0;
    for (const TCalibrationPoint &p : points)
        fit.Residuals.push_back(p.EnergyKeV - (c1 * p.Channel + c0));
    fit.RmsResidual = rms(fit.Residuals);
    if (distinct >= 3)
        fitQuadratic(points, fit);
    return fit;
}
