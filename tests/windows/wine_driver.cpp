// Runs a Windows test host under Wine against loopback servers on this
// Linux machine: starts the servers (nginx among them, for gzip bodies),
// lays out the CA bundle directories, hands the addresses over in the
// environment and returns the host's exit code.
#include "support/Nginx.h"
#include "support/Servers.h"

#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

using namespace tw_test;

namespace {

// Answers with the request's header lines, so the host can see what it sent.
void addRequestHeadersRoute(httplib::Server& server) {
    server.Get("/request-headers", [](const httplib::Request& request, httplib::Response& response) {
        std::string lines;
        for (const auto& [name, value] : request.headers) lines += name + ": " + value + "\n";
        response.set_content(lines, "text/plain");
    });
}

int runAndWait(char** argv) {
    const pid_t child = fork();
    if (child < 0) return 125;
    if (child == 0) {
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return 125;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: tw_wine_driver WINE HOST.exe [ARGUMENT...]\n";
        return 2;
    }
    const HttpServer http(Tls::Off, addRequestHeadersRoute);
    const HttpServer https(Tls::Valid);
    const HttpServer expired(Tls::Expired);
    const HttpServer wrongHost(Tls::WrongHost);
    const RawServer partial("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
    std::string sample;
    for (int i = 0; sample.size() < 50000; ++i) sample += "line " + std::to_string(i) + " of the gzip sample\n";
    const NginxServer nginx("location = /gzip-sample.txt { gzip on; gzip_types text/plain; gzip_min_length 1; }",
                            {{"gzip-sample.txt", sample}});

    // The host starts here; each test picks the directory it needs as its
    // current one.
    const TempDir work;
    for (const auto& [directory, caFile] : {std::pair<std::string, std::string>{"trusted", tlsFiles().caCert},
                                            {"other", tlsFiles().otherCaCert}}) {
        std::filesystem::create_directory(work.path() + "/" + directory);
        work.write(directory + "/curl-ca-bundle.crt", readFile(caFile));
    }
    std::filesystem::create_directory(work.path() + "/none");
    work.write("gzip-sample.txt", sample);
    const ScopedWorkingDirectory cwd(work.path());

    setenv("TW_HTTP", http.url("").c_str(), 1);
    setenv("TW_HTTPS_PORT", std::to_string(https.port()).c_str(), 1);
    setenv("TW_EXPIRED_PORT", std::to_string(expired.port()).c_str(), 1);
    setenv("TW_WRONG_HOST_PORT", std::to_string(wrongHost.port()).c_str(), 1);
    setenv("TW_PARTIAL", partial.url("/").c_str(), 1);
    setenv("TW_NGINX_HTTP", nginx.httpUrl("/").c_str(), 1);
    return runAndWait(argv + 1);
}
