#include "analysis/peaksearch.h"

#include "analysis/nuclides.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>

namespace {

constexpr int kMaxPeaksPerRegion = 3;
// Parameters before the peaks: continuum level, continuum slope, common sigma.
constexpr size_t kShared = 3;
// Half a region, in sigmas beyond the outermost centroids.
constexpr double kRegionHalfWidth = 3.0;
// Candidates nearer than this many sigmas (summed) are fitted together.
constexpr double kJoinDistance = 3.0;
// Passes of the fit: the first weighted by the counts, the others by the model.
constexpr int kPasses = 2;

void silenceGsl()
{
    // GSL's default handler aborts the program on a singular matrix; the
    // callers here look at the status codes instead.
    static const bool once = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)once;
}

struct FitData {
    const double *y = nullptr;
    int first = 0;
    size_t n = 0;
    size_t peaks = 0;
    double middle = 0;
    // The unit-area Gaussians of the last parameters the residuals were
    // computed for, channel by channel: the solver asks for the Jacobian at
    // the point it has just evaluated, and the exponentials are most of the work.
    std::vector<double> shapes;
    std::vector<double> shapesAt;
};

// The parameters as a plain array (the solver's vectors may have a stride).
using Parameters = std::array<double, kShared + 2 * kMaxPeaksPerRegion>;
Parameters valuesOf(const gsl_vector *p)
{
    Parameters v{};
    for (size_t i = 0; i < p->size && i < v.size(); ++i)
        v[i] = gsl_vector_get(p, i);
    return v;
}

// The unit-area Gaussian of every peak at every channel, for parameters p.
const std::vector<double> &shapesFor(const gsl_vector *p, FitData &d)
{
    const Parameters v = valuesOf(p);
    const size_t count = kShared + 2 * d.peaks;
    if (d.shapesAt.size() == count && std::equal(d.shapesAt.begin(), d.shapesAt.end(), v.begin()))
        return d.shapes;
    d.shapesAt.assign(v.begin(), v.begin() + std::ptrdiff_t(count));
    d.shapes.resize(d.n * d.peaks);
    const double sigma = v[2];
    const double norm = 1 / (std::sqrt(2 * std::numbers::pi) * std::abs(sigma));
    for (size_t i = 0; i < d.n; ++i) {
        const double x = double(d.first) + double(i);
        for (size_t k = 0; k < d.peaks; ++k) {
            const double u = (x - v[kShared + 2 * k + 1]) / sigma;
            d.shapes[i * d.peaks + k] = norm * std::exp(-0.5 * u * u);
        }
    }
    return d.shapes;
}

// The model at the region's channel i: the continuum and the peaks.
double modelAt(const Parameters &v, const std::vector<double> &shapes, const FitData &d, size_t i)
{
    double value = v[0] + v[1] * (double(d.first) + double(i) - d.middle);
    for (size_t k = 0; k < d.peaks; ++k)
        value += v[kShared + 2 * k] * shapes[i * d.peaks + k];
    return value;
}

int residuals(const gsl_vector *p, void *params, gsl_vector *f)
{
    auto &d = *static_cast<FitData *>(params);
    const Parameters v = valuesOf(p);
    const std::vector<double> &shapes = shapesFor(p, d);
    for (size_t i = 0; i < d.n; ++i)
        gsl_vector_set(f, i, modelAt(v, shapes, d, i) - d.y[i]);
    return GSL_SUCCESS;
}

int jacobian(const gsl_vector *p, void *params, gsl_matrix *J)
{
    auto &d = *static_cast<FitData *>(params);
    const Parameters v = valuesOf(p);
    const std::vector<double> &shapes = shapesFor(p, d);
    const double sigma = v[2];
    for (size_t i = 0; i < d.n; ++i) {
        const double x = double(d.first) + double(i);
        gsl_matrix_set(J, i, 0, 1.0);
        gsl_matrix_set(J, i, 1, x - d.middle);
        double dSigma = 0;
        for (size_t k = 0; k < d.peaks; ++k) {
            const double shape = shapes[i * d.peaks + k];
            const double g = v[kShared + 2 * k] * shape;
            const double u = (x - v[kShared + 2 * k + 1]) / sigma;
            dSigma += g * (u * u - 1) / sigma;
            gsl_matrix_set(J, i, kShared + 2 * k, shape);
            gsl_matrix_set(J, i, kShared + 2 * k + 1, g * u / sigma);
        }
        gsl_matrix_set(J, i, 2, dSigma);
    }
    return GSL_SUCCESS;
}

struct WorkspaceFree {
    void operator()(gsl_multifit_nlinear_workspace *w) const { gsl_multifit_nlinear_free(w); }
};
struct MatrixFree {
    void operator()(gsl_matrix *m) const { gsl_matrix_free(m); }
};

// Mean of a few channels around x, for the starting continuum.
double meanAround(std::span<const double> y, int x, int half)
{
    const int lo = std::max(0, x - half);
    const int hi = std::min(int(y.size()) - 1, x + half);
    double sum = 0;
    for (int i = lo; i <= hi; ++i)
        sum += y[size_t(i)];
    return hi >= lo ? sum / (hi - lo + 1) : 0;
}

struct Candidate {
    int channel = 0;
    double sigma = 0;
    double significance = 0;
};

// The zero-area filter at one width: its output at each channel, and that
// output's significance (0 where the filter does not fit inside the spectrum).
void filterAtScale(std::span<const double> y, std::span<const double> variance, double s,
                   std::vector<double> &response, std::vector<double> &significance)
{
    const int half = int(std::ceil(4 * s));
    std::vector<double> kernel(size_t(2 * half + 1));
    double mean = 0;
    for (int j = -half; j <= half; ++j) {
        const double t = double(j) / s;
        kernel[size_t(j + half)] = (1 - t * t) * std::exp(-0.5 * t * t);
        mean += kernel[size_t(j + half)];
    }
    mean /= double(kernel.size());
    for (double &k : kernel)
        k -= mean; // exactly zero area: a straight continuum gives nothing
    const int n = int(y.size());
    response.assign(y.size(), 0.0);
    significance.assign(y.size(), 0.0);
    for (int i = half; i < n - half; ++i) {
        double value = 0, var = 0;
        for (int j = -half; j <= half; ++j) {
            const double k = kernel[size_t(j + half)];
            value += k * y[size_t(i + j)];
            var += k * k * variance[size_t(i + j)];
        }
        response[size_t(i)] = value;
        significance[size_t(i)] = var > 0 ? value / std::sqrt(var) : 0;
    }
}

std::vector<Candidate> findCandidates(std::span<const double> y, std::span<const double> extra,
                                      const TPeakSearchOptions &options)
{
    std::vector<double> variance(y.size());
    for (size_t i = 0; i < y.size(); ++i)
        variance[i] = std::max(y[i], 1.0) + (extra.empty() ? 0.0 : extra[i]);

    std::vector<Candidate> all;
    std::vector<double> scales;
    std::vector<std::vector<double>> responses;
    std::vector<double> significance;
    for (double s = options.MinSigma; s <= options.MaxSigma * 1.0001; s *= 1.25) {
        scales.push_back(s);
        responses.emplace_back();
        filterAtScale(y, variance, s, responses.back(), significance);
        for (size_t i = 1; i + 1 < significance.size(); ++i) {
            const double v = significance[i];
            if (v >= options.Threshold && v > significance[i - 1] && v >= significance[i + 1])
                all.push_back({int(i), s, v});
        }
    }
    // One candidate per place: the most significant width wins, and a weaker
    // maximum whose filter reaches a stronger one (the same peak seen at
    // another width, or off its centre by a wide filter) goes. Narrow
    // candidates beside a wide one stay: they may be a doublet.
    std::sort(all.begin(), all.end(),
              [](const Candidate &a, const Candidate &b) { return a.significance > b.significance; });
    std::vector<Candidate> kept;
    for (const Candidate &c : all) {
        const bool near = std::any_of(kept.begin(), kept.end(), [&](const Candidate &k) {
            return std::abs(k.channel - c.channel) < 1.5 * c.sigma;
        });
        if (!near)
            kept.push_back(c);
    }
    // The width of a candidate: the filter's output divided by its width is
    // largest for a Gaussian of sigma s at the filter width s * sqrt(2).
    for (Candidate &c : kept) {
        double best = 0;
        for (size_t k = 0; k < scales.size(); ++k) {
            const double r = responses[k][size_t(c.channel)] / scales[k];
            if (r > best) {
                best = r;
                c.sigma = std::max(options.MinSigma, scales[k] / std::numbers::sqrt2);
            }
        }
    }
    std::sort(kept.begin(), kept.end(), [](const Candidate &a, const Candidate &b) { return a.channel < b.channel; });
    return kept;
}

bool fitOnce(std::span<const double> counts, std::span<const double> extraVariance, int first, int last,
             std::vector<double> &start, const std::vector<double> &weights, TRegionFit &fit,
             std::vector<double> &variance)
{
    FitData data;
    data.y = counts.data() + first;
    data.first = first;
    data.n = size_t(last - first + 1);
    data.peaks = (start.size() - kShared) / 2;
    data.middle = 0.5 * (first + last);
    const size_t p = start.size();
    if (data.n <= p + 1)
        return false;

    gsl_multifit_nlinear_fdf fdf{};
    fdf.f = residuals;
    fdf.df = jacobian;
    fdf.fvv = nullptr;
    fdf.n = data.n;
    fdf.p = p;
    fdf.params = &data;
    gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
    // A handful of parameters: the normal equations by Cholesky are several
    // times faster than QR and accurate enough at these condition numbers.
    parameters.solver = gsl_multifit_nlinear_solver_cholesky;
    std::unique_ptr<gsl_multifit_nlinear_workspace, WorkspaceFree> w(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, data.n, p));
    if (!w)
        return false;
    gsl_vector_view x = gsl_vector_view_array(start.data(), p);
    gsl_vector_const_view wts = gsl_vector_const_view_array(weights.data(), data.n);
    if (gsl_multifit_nlinear_winit(&x.vector, &wts.vector, &fdf, w.get()) != GSL_SUCCESS)
        return false;
    int info = 0;
    const int status = gsl_multifit_nlinear_driver(100, 1e-7, 1e-7, 0.0, nullptr, nullptr, &info, w.get());
    if (status != GSL_SUCCESS && status != GSL_EMAXITER)
        return false;

    const gsl_vector *solution = gsl_multifit_nlinear_position(w.get());
    std::unique_ptr<gsl_matrix, MatrixFree> covariance(gsl_matrix_alloc(p, p));
    if (gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(w.get()), 0.0, covariance.get()) != GSL_SUCCESS)
        return false;
    double chi2 = 0;
    gsl_blas_ddot(gsl_multifit_nlinear_residual(w.get()), gsl_multifit_nlinear_residual(w.get()), &chi2);

    for (size_t i = 0; i < p; ++i) {
        start[i] = gsl_vector_get(solution, i);
        if (!std::isfinite(start[i]) || !(gsl_matrix_get(covariance.get(), i, i) >= 0))
            return false;
    }
    const double sigma = std::abs(start[2]);
    fit = {};
    fit.Sigma = sigma;
    fit.Middle = data.middle;
    fit.ContinuumAt = start[0];
    fit.ContinuumSlope = start[1];
    fit.Chi2 = chi2;
    fit.ReducedChi2 = chi2 / double(data.n - p);
    for (size_t k = 0; k < data.peaks; ++k) {
        TPeak peak;
        peak.NetArea = start[kShared + 2 * k];
        peak.NetAreaSigma = std::sqrt(gsl_matrix_get(covariance.get(), kShared + 2 * k, kShared + 2 * k));
        peak.Channel = start[kShared + 2 * k + 1];
        peak.ChannelSigma = std::sqrt(gsl_matrix_get(covariance.get(), kShared + 2 * k + 1, kShared + 2 * k + 1));
        peak.FwhmChannels = kFwhmPerSigma * sigma;
        peak.Continuum = 2 * peak.FwhmChannels * (start[0] + start[1] * (peak.Channel - data.middle));
        peak.ReducedChi2 = fit.ReducedChi2;
        peak.RegionFirst = first;
        peak.RegionLast = last;
        fit.Peaks.push_back(peak);
    }
    // The Poisson variance of each channel by the fitted model, for the next pass.
    variance.resize(data.n);
    const Parameters v = valuesOf(solution);
    const std::vector<double> &shapes = shapesFor(solution, data);
    for (size_t i = 0; i < data.n; ++i)
        variance[i] = modelAt(v, shapes, data, i) +
                   (extraVariance.empty() ? 0.0 : extraVariance[size_t(first) + i]);
    return true;
}

// The channels of a group's region: the candidates' centroids and a few
// widths beyond, but not into the lines of candidates outside the group.
std::pair<int, int> regionOf(const std::vector<Candidate> &group, const std::vector<Candidate> &all, int channels)
{
    double sigma = 0;
    for (const Candidate &c : group)
        sigma = std::max(sigma, c.sigma);
    double first = group.front().channel - kRegionHalfWidth * sigma - 1;
    double last = group.back().channel + kRegionHalfWidth * sigma + 1;
    for (const Candidate &c : all) {
        if (c.channel < group.front().channel)
            first = std::max(first, std::min(c.channel + 3 * c.sigma, group.front().channel - 2 * sigma - 1));
        if (c.channel > group.back().channel)
            last = std::min(last, std::max(c.channel - 3 * c.sigma, group.back().channel + 2 * sigma + 1));
    }
    return {std::max(0, int(std::floor(first))), std::min(channels - 1, int(std::ceil(last)))};
}

// The peak of a fit that lies further from the one before it than two
// regions' half widths, or 0 when the lines are close enough to share one.
size_t farApart(const TRegionFit &fit)
{
    for (size_t k = 1; k < fit.Peaks.size(); ++k)
        if (fit.Peaks[k].Channel - fit.Peaks[k - 1].Channel > 2 * kRegionHalfWidth * fit.Sigma)
            return k;
    return 0;
}

std::vector<double> centroidsWithout(const TRegionFit &fit, size_t left)
{
    std::vector<double> others;
    for (size_t j = 0; j < fit.Peaks.size(); ++j)
        if (j != left)
            others.push_back(fit.Peaks[j].Channel);
    return others;
}

// The peak to drop outright: not significant, outside the region, or nearer
// than a FWHM to a stronger one (one line split in two by the noise).
std::optional<size_t> unwantedPeak(const TRegionFit &fit, int first, int last, double threshold)
{
    std::optional<size_t> drop;
    for (size_t k = 0; k < fit.Peaks.size(); ++k) {
        const TPeak &p = fit.Peaks[k];
        const bool split = std::any_of(fit.Peaks.begin(), fit.Peaks.end(), [&](const TPeak &q) {
            return &q != &p && std::abs(q.Channel - p.Channel) < p.FwhmChannels && q.Significance() >= p.Significance();
        });
        if (split || p.Significance() < threshold || p.Channel < first || p.Channel > last)
            if (!drop || p.Significance() < fit.Peaks[*drop].Significance())
                drop = k;
    }
    return drop;
}

bool fitGroup(std::span<const double> counts, std::span<const double> extra, int first, int last,
              std::vector<Candidate> group, const TPeakSearchOptions &options, TRegionFit &fit)
{
    bool fitted = false;
    // A fit that fails, or whose width is none a peak can have, is tried
    // again without the weakest candidate.
    while (!group.empty() && !fitted) {
        std::vector<double> centroids;
        double narrow = options.MaxSigma, wide = 0;
        for (const Candidate &c : group) {
            centroids.push_back(c.channel);
            narrow = std::min(narrow, c.sigma);
            wide = std::max(wide, c.sigma);
        }
        // Neighbours start from the narrowest width (a wide candidate may be
        // two lines seen as one); when that fits badly, from the widest too,
        // and the better fit wins.
        fitted = FitRegion(counts, extra, first, last, centroids, narrow, fit);
        TRegionFit other;
        if (group.size() > 1 && (!fitted || fit.ReducedChi2 > 1.5) &&
            FitRegion(counts, extra, first, last, centroids, wide, other) && (!fitted || other.Chi2 < fit.Chi2)) {
            fit = other;
            fitted = true;
        }
        fitted = fitted && fit.Sigma >= 0.5 * options.MinSigma && fit.Sigma <= 2 * options.MaxSigma;
        if (!fitted)
            group.erase(std::min_element(group.begin(), group.end(), [](const Candidate &a, const Candidate &b) {
                return a.significance < b.significance;
            }));
    }
    // Peaks the region does not need go, one at a time: an unwanted one, or
    // the one whose removal raises the chi-square least, when by less than
    // the threshold squared.
    const double wanted = options.Threshold * options.Threshold;
    while (fitted && !fit.Peaks.empty()) {
        if (const std::optional<size_t> drop = unwantedPeak(fit, first, last, options.Threshold)) {
            const std::vector<double> others = centroidsWithout(fit, *drop);
            const double sigma = fit.Sigma;
            fitted = !others.empty() && FitRegion(counts, extra, first, last, others, sigma, fit);
            continue;
        }
        std::optional<TRegionFit> best;
        for (size_t k = 0; fit.Peaks.size() > 1 && k < fit.Peaks.size(); ++k) {
            // Removing a peak raises the chi-square by about its significance
            // squared: only the weaker ones can fall short.
            if (fit.Peaks[k].Significance() > 3 * options.Threshold)
                continue;
            TRegionFit smaller;
            if (FitRegion(counts, extra, first, last, centroidsWithout(fit, k), fit.Sigma, smaller) &&
                smaller.Chi2 - fit.Chi2 < wanted && (!best || smaller.Chi2 < best->Chi2))
                best = smaller;
        }
        if (!best)
            break;
        fit = *best;
    }
    return fitted && !fit.Peaks.empty();
}

} // namespace

bool FitRegion(std::span<const double> counts, std::span<const double> extraVariance, int first, int last,
               const std::vector<double> &centroids, double sigma, TRegionFit &fit)
{
    silenceGsl();
    first = std::max(first, 0);
    last = std::min(last, int(counts.size()) - 1);
    if (centroids.empty() || last - first < 4 || sigma <= 0)
        return false;
    // Start: a straight line through the region's ends, each peak as high as
    // its centroid's channel stands above that line.
    const int edge = std::max(1, int(sigma / 2));
    const double left = meanAround(counts, first + edge, edge);
    const double right = meanAround(counts, last - edge, edge);
    const double middle = 0.5 * (first + last);
    const double slope = (right - left) / std::max(1, last - first - 2 * edge);
    std::vector<double> start{0.5 * (left + right), slope, sigma};
    for (double c : centroids) {
        const double above = counts[size_t(std::clamp(int(std::lround(c)), first, last))] -
                             (start[0] + slope * (c - middle));
        start.push_back(std::max(above, 1.0) * std::sqrt(2 * std::numbers::pi) * sigma);
        start.push_back(c);
    }
    const size_t n = size_t(last - first + 1);
    std::vector<double> weights(n), variance;
    for (size_t i = 0; i < n; ++i)
        weights[i] = 1.0 / (std::max(counts[size_t(first) + i], 1.0) +
                            (extraVariance.empty() ? 0.0 : extraVariance[size_t(first) + i]));
    for (int pass = 0; pass < kPasses; ++pass) {
        if (!fitOnce(counts, extraVariance, first, last, start, weights, fit, variance))
            return false;
        for (size_t i = 0; i < n; ++i)
            weights[i] = 1.0 / std::max(variance[i], 1.0);
    }
    return true;
}

TNetSpectrum SubtractBackground(std::span<const double> counts, std::span<const double> background)
{
    TNetSpectrum net;
    net.Counts.assign(counts.begin(), counts.end());
    net.ExtraVariance.assign(counts.size(), 0.0);
    for (size_t i = 0; i < counts.size() && i < background.size(); ++i) {
        net.Counts[i] -= background[i];
        // The background's variance twice: once for its own counts, once for
        // the share of the main spectrum's counts the model no longer shows.
        net.ExtraVariance[i] = 2 * std::max(background[i], 0.0);
    }
    return net;
}

std::vector<TPeak> FindNetPeaks(std::span<const double> counts, std::span<const double> background, double coefA,
                                double coefB, const TPeakSearchOptions &options)
{
    if (background.empty())
        return FindPeaks(counts, coefA, coefB, options);
    const TNetSpectrum net = SubtractBackground(counts, background);
    return FindPeaks(net.Counts, coefA, coefB, options, net.ExtraVariance);
}

std::vector<TPeak> FindPeaks(std::span<const double> counts, double coefA, double coefB,
                             const TPeakSearchOptions &options, std::span<const double> extraVariance)
{
    silenceGsl();
    if (!extraVariance.empty() && extraVariance.size() != counts.size())
        return {};
    const std::vector<Candidate> candidates = findCandidates(counts, extraVariance, options);

    // Chains of neighbouring candidates, then groups of at most three to a
    // region: the three most significant of a chain, with the rest of the
    // chain, where it lies clear of them, forming groups of its own.
    // Candidates close to a group but left out of it are taken as explained
    // by it. A group whose fitted lines turn out far apart for their width is
    // fitted again as separate groups.
    auto near = [](const Candidate &a, const Candidate &b) {
        return std::abs(a.channel - b.channel) < kJoinDistance * (a.sigma + b.sigma);
    };
    std::vector<std::vector<Candidate>> chains;
    for (const Candidate &c : candidates) {
        if (!chains.empty() && near(chains.back().back(), c))
            chains.back().push_back(c);
        else
            chains.push_back({c});
    }
    std::vector<Candidate> live;
    std::vector<std::vector<Candidate>> work;
    while (!chains.empty()) {
        std::vector<Candidate> chain = std::move(chains.back());
        chains.pop_back();
        std::sort(chain.begin(), chain.end(),
                  [](const Candidate &a, const Candidate &b) { return a.significance > b.significance; });
        std::vector<Candidate> group(chain.begin(), chain.begin() + std::min<std::ptrdiff_t>(kMaxPeaksPerRegion, chain.size()));
        std::vector<Candidate> rest;
        for (size_t k = group.size(); k < chain.size(); ++k)
            if (std::none_of(group.begin(), group.end(), [&](const Candidate &g) { return near(g, chain[k]); }))
                rest.push_back(chain[k]);
        if (!rest.empty()) {
            std::sort(rest.begin(), rest.end(), [](const Candidate &a, const Candidate &b) { return a.channel < b.channel; });
            chains.push_back(std::move(rest));
        }
        std::sort(group.begin(), group.end(), [](const Candidate &a, const Candidate &b) { return a.channel < b.channel; });
        live.insert(live.end(), group.begin(), group.end());
        work.push_back(std::move(group));
    }

    // The candidates still standing bound the regions of the others.
    auto replace = [&live](const std::vector<Candidate> &gone, const std::vector<Candidate> &kept) {
        for (const Candidate &c : gone)
            std::erase_if(live, [&](const Candidate &l) { return l.channel == c.channel; });
        live.insert(live.end(), kept.begin(), kept.end());
    };
    std::vector<TPeak> peaks;
    while (!work.empty()) {
        std::vector<Candidate> group = std::move(work.back());
        work.pop_back();
        const auto [first, last] = regionOf(group, live, int(counts.size()));
        TRegionFit fit;
        if (!fitGroup(counts, extraVariance, first, last, group, options, fit)) {
            // The strongest candidate alone, in a region of its own.
            std::vector<Candidate> strongest;
            if (group.size() > 1)
                strongest.push_back(*std::max_element(group.begin(), group.end(),
                                                      [](const Candidate &a, const Candidate &b) {
                                                          return a.significance < b.significance;
                                                      }));
            replace(group, strongest);
            if (!strongest.empty())
                work.push_back(strongest);
            continue;
        }
        // Candidates the fit did not keep shaped the region: the lines it kept
        // are fitted again in a region of their own, and lines far apart for
        // their width each in its own.
        const size_t at = farApart(fit);
        bool again = at > 0;
        if (!again && fit.Peaks.size() < group.size()) {
            // Dropped candidates matter only when they widened the region.
            std::vector<Candidate> kept;
            for (const TPeak &p : fit.Peaks)
                kept.push_back({int(std::lround(p.Channel)), fit.Sigma, p.Significance()});
            const auto [keptFirst, keptLast] = regionOf(kept, live, int(counts.size()));
            again = std::abs(keptFirst - first) > fit.Sigma || std::abs(keptLast - last) > fit.Sigma;
        }
        if (again) {
            std::vector<Candidate> left, right;
            for (size_t k = 0; k < fit.Peaks.size(); ++k) {
                const TPeak &p = fit.Peaks[k];
                Candidate c = *std::min_element(group.begin(), group.end(), [&](const Candidate &a, const Candidate &b) {
                    return std::abs(a.channel - p.Channel) < std::abs(b.channel - p.Channel);
                });
                c.channel = int(std::lround(p.Channel));
                c.significance = p.Significance();
                if (at == 0)
                    c.sigma = fit.Sigma; // still together: the fitted width is the better guess
                (at > 0 && k >= at ? right : left).push_back(c);
            }
            replace(group, left);
            replace({}, right);
            if (!right.empty())
                work.push_back(std::move(right));
            work.push_back(std::move(left));
            continue;
        }
        for (TPeak &p : fit.Peaks) {
            p.EnergyKeV = coefA * p.Channel + coefB;
            p.FwhmKeV = std::abs(coefA) * p.FwhmChannels;
            if (const TGammaLine *line = MatchGammaLine(p.EnergyKeV, p.FwhmKeV)) {
                p.Nuclide = QString::fromLatin1(line->Nuclide);
                p.LineKeV = line->EnergyKeV;
            }
            peaks.push_back(p);
        }
    }
    // Two regions may claim the same counts (a doublet and a wide candidate
    // between its lines): of peaks nearer than a FWHM from different fits,
    // the one from the better fit stays.
    std::sort(peaks.begin(), peaks.end(), [](const TPeak &a, const TPeak &b) { return a.Channel < b.Channel; });
    std::vector<bool> gone(peaks.size(), false);
    for (size_t i = 0; i < peaks.size(); ++i)
        for (size_t j = i + 1; j < peaks.size() && peaks[j].Channel - peaks[i].Channel < peaks[i].FwhmChannels; ++j) {
            const TPeak &a = peaks[i], &b = peaks[j];
            if (a.RegionFirst == b.RegionFirst && a.RegionLast == b.RegionLast)
                continue;
            if (b.Channel - a.Channel < std::min(a.FwhmChannels, b.FwhmChannels))
                (a.ReducedChi2 <= b.ReducedChi2 ? gone[j] : gone[i]) = true;
        }
    std::vector<TPeak> kept;
    for (size_t i = 0; i < peaks.size(); ++i)
        if (!gone[i])
            kept.push_back(peaks[i]);
    return kept;
}
