#pragma once
// kvarnctl's spectrum files without the line: "convert" between the spectrum
// formats, and "peaks", the peaks of a spectrum with their net areas.

class TCliConsole;
struct TCliRequest;

// convert IN OUT for a spectrum (.spc, .n42, .spe, .csv) into another, or as
// CSV on standard output. The exit status.
int CliConvertSpectrum(TCliConsole &console, const TCliRequest &request);

// peaks FILE [--background FILE] [--threshold SIGMA] [--csv]: one line per
// peak, or CSV with the columns
//   channel,energy_kev,fwhm_channels,net_area,net_area_sigma,continuum,reduced_chi2,nuclide
int CliPeaks(TCliConsole &console, const TCliRequest &request);
