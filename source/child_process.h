#pragma once
// Other processes of quellix itself: a fleet run reads each drive in a run
// of its own, the program started again with the drive's arguments. A
// process of its own keeps a crash or a hung admin command of one drive
// from the others (a waiting ioctl cannot be cancelled, only its process
// ended) and gives each run its own logging and journal.
#include <memory>
#include <string>
#include <vector>

class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // True once the process has ended, with its exit status in `exitCode`;
    // a process ended by a signal reports 128 + the signal's number.
    virtual bool Ended(int& exitCode) = 0;
    // Waits for the end of the process and returns its exit status as
    // Ended tells it. Called from one thread, which alone then uses Ended.
    virtual int Wait() = 0;
    // Closes the process's standard input: a run started with --stop-on-eof
    // then ends after its current sample, as after Ctrl-C.
    virtual void CloseInput() = 0;
    // Ends the process at once.
    virtual void Kill() = 0;
};

// Starts `program` with `arguments` in the current directory. Its standard
// input is a pipe that only the returned object writes to; standard output
// and standard error go to the file `outputPath` (made anew). Raises
// KavoError when the process cannot be started.
std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::string& outputPath);
// The path of the running program's executable.
std::string CurrentProgramPath();
// Returns once standard input has reached its end or cannot be read.
void WaitForEndOfInput();
