// nginx as a child process of the test, listening on sockets the test opened.
#include "support/Nginx.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace tw_test {

namespace {

std::string findNginx() {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/local/sbin";
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/nginx";
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

// Bound and listening before nginx starts, inheritable (no CLOEXEC).
int listeningSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot open a listening socket for nginx");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Starts `args` with `environment`, its stderr appended to `logFile`. The
// child gets SIGTERM should the test die first.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const std::string& logFile) {
    std::vector<char*> argv, envp;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (log >= 0) ::dup2(log, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (log >= 0) ::close(log);
    if (pid < 0) throw std::runtime_error("cannot start nginx");
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool NginxServer::available() {
    return !findNginx().empty();
}

NginxServer::NginxServer(const std::string& locations, const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string nginx = findNginx();
    if (nginx.empty()) throw std::runtime_error("nginx not found");
    const std::string& dir = prefix_.path();
    ::mkdir((dir + "/html").c_str(), 0755);
    for (const auto& [name, content] : files) prefix_.write("html/" + name, content);
    httpsSocket_ = listeningSocket(httpsPort_);
    httpSocket_ = listeningSocket(httpPort_);

    // As root, workers would otherwise run as an unprivileged user that
    // cannot enter the private temporary directory.
    const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
    const std::string config =
        user + "daemon off;\nworker_processes 1;\npid " + dir + "/nginx.pid;\n" + "error_log " + dir +
        "/error.log;\nevents { worker_connections 64; }\nhttp {\n" +
        "  access_log off;\n  default_type text/plain;\n  absolute_redirect off;\n" + "  client_body_temp_path " + dir +
        "/body;\n  proxy_temp_path " + dir + "/proxy;\n" + "  fastcgi_temp_path " + dir +
        "/fastcgi;\n  uwsgi_temp_path " + dir + "/uwsgi;\n" + "  scgi_temp_path " + dir + "/scgi;\n  server {\n" +
        "    listen 127.0.0.1:" + std::to_string(httpsPort_) + " ssl http2;\n" +
        "    listen 127.0.0.1:" + std::to_string(httpPort_) + ";\n" + "    ssl_certificate " + tlsFiles().serverCert +
        ";\n" + "    ssl_certificate_key " + tlsFiles().serverKey + ";\n" + "    root " + dir +
        "/html;\n    client_max_body_size 64m;\n" + locations + "\n  }\n}\n";
    const std::string configFile = prefix_.write("nginx.conf", config);
    const std::string logFile = dir + "/error.log";
    const std::vector<std::string> args = {nginx, "-p", dir, "-c", configFile, "-e", logFile};

    // A configuration nginx refuses would leave the queued connections
    // unanswered for ever, so it is checked first.
    std::vector<std::string> checkArgs = args;
    checkArgs.push_back("-t");
    if (waitFor(spawn(checkArgs, {}, logFile)) != 0) {
        ::close(httpsSocket_);
        ::close(httpSocket_);
        throw std::runtime_error("nginx refused its configuration:\n" + readFile(logFile));
    }
    // nginx takes over listening sockets named in NGINX, as it does from an
    // older nginx when it upgrades itself.
    pid_ = spawn(args, {"NGINX=" + std::to_string(httpsSocket_) + ";" + std::to_string(httpSocket_) + ";"}, logFile);
}

NginxServer::~NginxServer() {
    ::kill(pid_, SIGTERM);
    waitFor(pid_);
    ::close(httpsSocket_);
    ::close(httpSocket_);
}

std::string NginxServer::httpsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

std::string NginxServer::httpUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

}  // namespace tw_test
