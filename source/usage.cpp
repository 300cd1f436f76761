// Usage and help text.
#include <iterator>
#include <string>
#include <vector>

#include "base/kavo_log.h"
#include "quellix.h"

namespace {

const char* const kHeader[] = {
    " ",
    " quellix <command file> [-n,--nvme #] [-d,--dir <directory>] [COMMAND-OPTIONS] [-x,-v,-h,-u] [--export]",
    " ",
};

const char* const kShortUsage[] = {
    "   <command file>                  Path to command file with or without .cmd.json extension (default: read)",
    "   -n, --nvme  #                   Physical drive number. Example: 0 for nvme0 or PHYSICALDRIVE0 (default: *)",
    "   -d, --dir  <log directory>      Directory to log results (default: .)",
    " ",
    "   -r, --rules <rules file>        Path to rules file with or without .rules.json extension",
    "   -c, --compare <compare file>    Path to file to compare.  Must include full name with extension.",
    "   -i, --interval <interval>       Interval in mS between read samples.",
    "   -s, --samples <samples>         Number of read samples.",
    " ",
    "   -e, --extended                  Run extended self-test ",
    " ",
    "   -u, --usage                     Display this usage information",
    "   -h, --help                      Display verbose help information",
    "   -x                              Extra logging for debug",
    "   -v                              Verbose logging",
    " ",
    "   --version                       Show the version, build date and commit",
    "   --list                          List the NVMe drives of this host, one line each",
    "   --recover <directory>           Turn the journal of an interrupted run into its summary",
    "   --metrics <file>                Write Prometheus metrics after every read sample",
    "   --report <directory>            Draw the HTML report of the run in <directory> again",
    "   -n all, -n 0,2, -n serial:<sn>  Every NVMe drive, a list, or the drive with that serial: a fleet",
    "   --jobs <runs>                   Drive runs of a fleet at a time (default: the number of CPUs)",
    "   --list --json                   The drive list as a JSON array",
    " ",
};

const char* const kVerboseHelp[] = {
    "    <command file>                 Path command file with or without .cmd.json extension",
    "                                   Example: quellix.exe read ",
    "                                         Runs read.cmd.json from local directory",
    "   -n, --nvme #                    Physical drive number. Example: 0 for nvme0 or PHYSICALDRIVE0 (default: *)",
    "                                   Specifying * reads the first nvme drive reported by the OS",
    "                                   Example: -n 0",
    "                                      In Windows reads PHYSICALDRIVE0, in linux reads nvme0",
    "   -d, --dir  <log directory>      Directory to log results",
    "                                   The default log directory is the local directory: .",
    "                                   Example: quellix  read ",
    "                                         Logs to: .",
    "                                   Example: quellix read  --dir \\results\\mylog",
    "                                         In Windows logs to: \\results\\mylog",
    " ",
    "  COMMAND-OPTIONS for read command type:",
    " ",
    "   -r, --rules <rules file>        Path to rules file with or without .rules.json extension",
    "                                   Only applies to command type read",
    "                                   Overides the rules file specified in cmd file",
    "   -c, --compare <compare file>    Path to file to compare.  Must include full name with extension.",
    "                                   The file to compare must a nvme.info.json file",
    "                                   Only applies to command type read",
    "                                   Overides the compare file specified in cmd file",
    "                                   Linux Example: --compare ./compare_files/nvme.info.json",
    "                                   Windows Example: --compare \\nvmeinfo\\results\\verify-new-drive-001\\nvme.info.json",
    "   -i, --interval <interval>       Interval in mS between read samples",
    "                                   Only applies to command type read when reading more than 1 sample",
    "   -s, --samples <samples>         Number of read samples ",
    "                                   Only applies to command type read",
    " ",
    "  COMMAND-OPTIONS for self-test command type:",
    " ",
    "   -e, --extended                  Run extended self-test ",
    "                                   Only applies to command type self-tests",
    " ",
    "   -u, --usage                     Display this usage information",
    "   -h, --help                      Display verbose help information",
    "   -x                              Extra logging for debug to console and quellix.trace.log",
    "   -v                              Verbose logging to console and quellix.trace.log",
    " ",
    "   --export                        Export parameter list to parameter_list.json and ALL.filter.json",
    " ",
    "   --version                       Show the version, build date and commit",
    "   --list                          List the NVMe drives of this host, one line each: number,",
    "                                   path, model, serial, firmware, capacity, PCI address",
    "                                   With -n: only that drive (-n sim: the simulated drive)",
    "   --recover <directory>           Turn the journal of a run that was killed (read.journal.jsonl",
    "                                   or selftest.journal.jsonl) into read.summary.json or",
    "                                   selftest.summary.json with every completed sample",
    "   --metrics <file>                Write the drive's state in the Prometheus text format to <file>",
    "                                   after every read sample (atomically, for node_exporter's",
    "                                   textfile collector); overrides the cmd file's metrics file",
    "   --report <directory>            Draw read.report.html / selftest.report.html again from the",
    "                                   summaries in <directory> (also after --recover)",
    "   -n all                          Read every NVMe drive of the host (Windows: every NVMe physical drive)",
    "   -n 0,2  (or -n 0 -n 2)          Read these drives; nvme0n1 and /dev/nvme0n1 name their controller",
    "   -n serial:<serial number>       Read the drive with this serial number, whatever its number",
    "                                   With more than one drive, or all, each drive is read by a run of its own",
    "                                   into <log directory>/<controller>-<serial>/, the results are gathered in",
    "                                   <log directory>/fleet.summary.json and the exit code is the worst drive's",
    "   --jobs <runs>                   Drive runs of a fleet at a time (default: the number of CPUs)",
    "   -c, --compare <folder>          A folder of baselines: each drive is compared with the file in it",
    "                                   whose serial number is the drive's, whatever the file is called",
    "   --list --json                   The drive list as a JSON array for scripts",
    "   --stop-on-eof                   End the run as after Ctrl-C when standard input closes",
    " ",
};

std::vector<const char*> UsageLines(bool verbose) {
    std::vector<const char*> lines(std::begin(kHeader), std::end(kHeader));
    if (verbose) lines.insert(lines.end(), std::begin(kVerboseHelp), std::end(kVerboseHelp));
    else lines.insert(lines.end(), std::begin(kShortUsage), std::end(kShortUsage));
    return lines;
}

}  // namespace

void DisplayUsage(bool verbose) {
    // Straight to the logger: a record stream per line would cost more than
    // the lines themselves at start-up.
    if (!kavo::LogEnabled(kavo::Severity::Info)) return;
    const std::string source = "DisplayUsage";
    kavo::LogBatch batch;
    for (const char* line : UsageLines(verbose)) kavo::LogMessage(kavo::Severity::Info, source, __LINE__, line);
}

bool AnswerUsageRequest(const std::string& option) {
    const bool help = option == "--help" || option == "-h";
    if (!help && option != "--usage" && option != "-u") return false;
    kavo::WriteInfoRecordsAlone(UsageLines(help));
    return true;
}
