#pragma once
// Baselines by serial number: a compare file given as a folder stands for
// the info document in it whose drive has the run's serial number, whatever
// the file is called, so each drive of a fleet is compared with its own
// baseline and a drive that the host numbers anew still finds its own.
#include <map>
#include <string>
#include <vector>

// The info documents of a folder by their drives' serial numbers ("Serial
// Number (SN)"); files that are no info documents are passed over.
struct BaselineFolder {
    std::string folder;  // absolute
    std::map<std::string, std::vector<std::string>> filesBySerial;
};

// An input file named in the settings (rules, compare file): relative to the
// current directory or, when it is not found there, to the command file's
// folder, so a command file can name the files beside it from anywhere.
// Only a regular file counts as found, or, with `folderAllowed`, a folder
// (a compare "file" that is a folder of baselines).
std::string InputFilePath(const std::string& name, const std::string& commandFile, bool folderAllowed = false);
// Reads every *.json file of `folder` (not its subfolders).
BaselineFolder IndexBaselines(const std::string& folder);
// The baseline of the drive with `serial`. Raises UsageError when the
// serial is unknown, when no file has it, or when several do.
std::string PickBaseline(const BaselineFolder& baselines, const std::string& serial, const std::string& drive);
