#include "process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace ws_bench {

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, int stdoutFd)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(stdoutFd >= 0 ? stdoutFd : null, 1);
        ::dup2(null, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

Child startServer(const std::vector<std::string>& argv, int timeoutMs)
{
    Child child;
    int fds[2];
    if (::pipe(fds) != 0) {
        child.error = "pipe failed";
        return child;
    }
    child.pid = spawn(argv, fds[1]);
    ::close(fds[1]);
    std::string text;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline && child.port == 0) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, size_t(n));
        const size_t at = text.find("ready ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos)
            child.port = std::atoi(text.c_str() + at + 6);
    }
    ::close(fds[0]);
    if (child.port == 0) {
        const size_t nl = text.find('\n');
        child.error = text.empty() ? argv[0] + " never became ready" : text.substr(0, nl);
        stopChild(child);
    }
    return child;
}

Child startListening(const std::vector<std::string>& argv, int port, int timeoutMs)
{
    Child child;
    child.pid = spawn(argv, -1);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (canConnect(port)) {
            child.port = port;
            return child;
        }
        int status = 0;
        if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
            child.pid = -1;
            child.error = argv[0] + " ended before listening";
            return child;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    child.error = argv[0] + " never listened";
    stopChild(child);
    return child;
}

void stopChild(Child& child)
{
    if (child.pid <= 0)
        return;
    ::kill(-child.pid, SIGTERM);
    for (int k = 0; k < 100; ++k) {
        int status = 0;
        if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
            ::kill(-child.pid, SIGKILL);   // forked helpers of the group
            child.pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-child.pid, SIGKILL);
    ::waitpid(child.pid, nullptr, 0);
    child.pid = -1;
}

Memory memoryOf(pid_t pid)
{
    Memory m;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            m.rssKiB = std::stol(line.substr(6));
        else if (line.rfind("VmHWM:", 0) == 0)
            m.hwmKiB = std::stol(line.substr(6));
    }
    return m;
}

double cpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Fields after the command name, which may hold blanks: state is field 3,
    // utime and stime are fields 14 and 15.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int k = 3; k <= 15 && rest >> field; ++k) {
        if (k == 14)
            utime = std::stoull(field);
        else if (k == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

long raiseDescriptorLimit()
{
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = r.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &r);
    ::getrlimit(RLIMIT_NOFILE, &r);
    return long(r.rlim_cur);
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string selfPath()
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    self[n] = 0;
    return self;
}

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    f >> a >> b >> c;
    char text[96];
    std::snprintf(text, sizeof text, "load average: %.2f, %.2f, %.2f", a, b, c);
    return text;
}

} // namespace ws_bench
