#pragma once
// Energy calibration from many points: the straight line keV = A * channel + B
// by least squares, each point's residual and their RMS; and the quadratic
// through the same points, as advice (the spectrum file keeps two
// coefficients).

#include <vector>

struct TCalibrationPoint {
    double Channel = 0;
    double EnergyKeV = 0;
};

struct TCalibrationFit {
    bool Valid = false;          // at least two distinct channels
    double CoefA = 1;            // keV per channel
    double CoefB = 0;            // keV at channel 0
    std::vector<double> Residuals; // energy given minus energy of the line, keV, per point
    double RmsResidual = 0;      // keV
    // keV = Q0 + Q1 * channel + Q2 * channel^2, with three distinct channels or more.
    bool QuadraticValid = false;
    double Q0 = 0, Q1 = 0, Q2 = 0;
    double QuadraticRms = 0;
};

TCalibrationFit FitCalibration(const std::vector<TCalibrationPoint> &points);
