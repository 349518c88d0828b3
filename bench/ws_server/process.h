// Child processes of the benchmark (the servers under test, websockify) and
// what the benchmark reads about them from /proc.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ws_bench {

struct Child {
    pid_t pid = -1;
    int port = 0;
    std::string error;
    bool ok() const { return pid > 0 && port > 0; }
};

// Starts argv[0] with the given arguments in a process group of its own and
// waits until it prints "ready <port>" on its standard output.
Child startServer(const std::vector<std::string>& argv, int timeoutMs = 20000);
// Starts a program that says nothing useful and waits until port accepts TCP.
Child startListening(const std::vector<std::string>& argv, int port, int timeoutMs = 20000);
// Ends the child and every process it forked.
void stopChild(Child& child);

struct Memory {
    long rssKiB = -1;   // VmRSS
    long hwmKiB = -1;   // VmHWM, the peak so far
};
Memory memoryOf(pid_t pid);
// CPU time (user and system) the process has used so far, in seconds.
double cpuSeconds(pid_t pid);

// Raises the descriptor limit to the hard limit; returns the new soft limit.
long raiseDescriptorLimit();
// A loopback port that was free a moment ago.
int freePort();
// Path of the running program.
std::string selfPath();
// "load average: ..." of uptime.
std::string loadAverage();

} // namespace ws_bench
