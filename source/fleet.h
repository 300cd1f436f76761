#pragma once
// A fleet run: several drives, each read by a run of its own (quellix
// started again for the drive) into DIR/<controller name>-<serial>/, a
// bounded number at a time. The runs' results come together in
// DIR/fleet.summary.json, one console line per drive and, with metrics, one
// metrics file for every drive.
#include <string>
#include <vector>

#include "settings.h"

// Runs the fleet of `settings` (settings.isFleet()); returns the worst exit
// code of its drives (WorstExitCode).
int RunFleet(const Settings& settings);

// The worst of the drives' exit codes, in this order from worst to best:
// 17 (a run that failed, crashed or hung), 19 (a drive that went away), 16
// (wrong use, such as a missing baseline), any other code, the result codes
// from the highest down (36 … 30, 22, 21), and 0. No codes: 0.
int WorstExitCode(const std::vector<int>& codes);

// The arguments of one drive's run: the fleet's own without its drive
// list, log directory, metrics file, run bound and stop option, followed by
// the drive's. `baseline` and `metricsFile` are left out when empty.
std::vector<std::string> DriveRunArguments(const std::vector<std::string>& fleetArguments, const std::string& drive,
                                           const std::string& folder, const std::string& baseline,
                                           const std::string& metricsFile);

// --stop-on-eof: the run stops, as after Ctrl-C, when its standard input
// ends (the fleet run that started it closed it, or went away).
void StopWhenInputEnds();
