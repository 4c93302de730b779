// Measures the library side by side with its yardsticks in one run and
// prints one table. Every figure is paired with a reference measured in the
// same run, in alternating rounds (A B, B A, ...); the table shows the
// median of each and the median of the per-round ratios, because the
// machines this runs on are shared and noisy.
//
// Usage: tw_bench [--quick] [--only GROUP] [--server URL | --write-files DIR]
//                 [--library PATH] [--peak-helper PATH]
//   --quick        small sizes and few rounds: checks that everything works,
//                  the figures mean nothing.
//   --only         one group of cases (see GROUPS below).
//   --server       the request cases fetch the served files (servedFiles())
//                  from this base URL, e.g. http://127.0.0.1:8080; without
//                  it a server inside this program serves them.
//   --write-files  writes the served files into DIR and exits.
// It exits with 1 when a full run misses a target.
#include "HostLibrary.h"
#include "LoopbackServer.h"
#include "References.h"
#include "base64.h"

#include <curl/curl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using bench::HostLibrary;
using bench::HostStrings;

constexpr double MIB = 1024.0 * 1024.0;

struct Settings {
    bool quick = false;
    std::string library = TW_LIBRARY_PATH;
    std::string peakHelper = TW_PEAK_HELPER_PATH;
    std::string only;
    std::string serverUrl;
    std::string writeFilesTo;
    std::size_t largeBody = std::size_t{64} << 20;
    std::size_t escapeText = std::size_t{16} << 20;
    // Many short rounds: a burst of other work on a shared machine then
    // spoils a few of them, and the median of the ratios holds still.
    int requestsPerRound = 10;
    int requestRounds = 601;
    int largeRounds = 7;
    int encoderRounds = 9;
    int peakRuns = 3;
    // A host calls many times in one process; what the allocator keeps
    // between calls counts.
    int peakCalls = 3;

    void makeQuick() {
        quick = true;
        largeBody = std::size_t{4} << 20;
        escapeText = std::size_t{2} << 20;
        requestsPerRound = 10;
        requestRounds = 3;
        largeRounds = 3;
        encoderRounds = 3;
        peakRuns = 1;
    }
};

// ------------------------------------------------------------ test data

class Random {
public:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_ = 20240601;
};

std::string randomBytes(std::size_t size, bool withZeroBytes) {
    Random random;
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t word = random.next();
        for (std::size_t k = i; k < std::min(size, i + 8); ++k, word >>= 8) {
            const auto byte = static_cast<unsigned char>(word);
            bytes[k] = static_cast<char>(withZeroBytes || byte != 0 ? byte : 1);
        }
    }
    return bytes;
}

// About half of the bytes are outside the JS set and must be escaped; the
// two kinds are mixed at random so no branch predictor can learn them.
std::string textHalfNeedingEscapes(std::size_t size) {
    const std::string kept = bench::JS_KEPT;
    std::string escaped;
    for (int b = 1; b < 256; ++b) {
        if (kept.find(static_cast<char>(b)) == std::string::npos) escaped.push_back(static_cast<char>(b));
    }
    Random random;
    std::string text(size, '\0');
    for (auto& c : text) {
        const std::uint64_t r = random.next();
        const std::string& pool = (r & 1) != 0 ? kept : escaped;
        c = pool[(r >> 1) % pool.size()];
    }
    return text;
}

// ----------------------------------------------------------- measuring

using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Medians of A's and B's times and the median of the per-round A/B ratios.
struct Paired {
    double a;
    double b;
    double ratio;
};

Paired interleaved(int rounds, const std::function<void()>& a, const std::function<void()>& b) {
    a();  // warm-up: first-touch costs, lazy binding
    b();
    std::vector<double> timesA, timesB, ratios;
    for (int round = 0; round < rounds; ++round) {
        double ta = 0, tb = 0;
        if (round % 2 == 0) {
            ta = secondsOf(a);
            tb = secondsOf(b);
        } else {
            tb = secondsOf(b);
            ta = secondsOf(a);
        }
        timesA.push_back(ta);
        timesB.push_back(tb);
        ratios.push_back(ta / tb);
    }
    return {median(timesA), median(timesB), median(ratios)};
}

void require(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("check failed: " + what);
}

// ---------------------------------------------------------------- table

struct Row {
    std::string name;
    std::string library;
    std::string reference;
    double ratio;
    std::string target;
    bool met;
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

Row atMost(std::string name, std::string library, std::string reference, double ratio, double limit) {
    return {std::move(name), std::move(library), std::move(reference), ratio, format("<= %.2f", limit), ratio <= limit};
}

Row atLeast(std::string name, std::string library, std::string reference, double ratio, double limit) {
    return {std::move(name), std::move(library), std::move(reference), ratio, format(">= %.2f", limit), ratio >= limit};
}

std::string megabytesPerSecond(std::size_t bytes, double seconds) {
    return format("%.0f MB/s", static_cast<double>(bytes) / seconds / 1e6);
}

// The 1, 5 and 15 minute load averages, as a measure of how busy the
// machine was.
std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string machineDescription() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown CPU";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname system{};
    uname(&system);
    return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, Linux " + system.release;
}

// A Markdown table, padded so that it also reads well in a terminal.
void printTable(const std::vector<Row>& rows, const Settings& settings) {
    std::vector<std::vector<std::string>> cells = {{"case", "library", "reference", "ratio", "target", "result"}};
    for (const auto& row : rows) {
        const char* met = settings.quick ? "-" : row.met ? "PASS" : "FAIL";
        cells.push_back({row.name, row.library, row.reference, format("%.3f", row.ratio), row.target, met});
    }
    std::vector<std::size_t> widths(cells[0].size(), 0);
    for (const auto& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
    }
    const auto printLine = [&](const std::vector<std::string>& line) {
        for (std::size_t i = 0; i < line.size(); ++i)
            std::printf("| %-*s ", static_cast<int>(widths[i]), line[i].c_str());
        std::printf("|\n");
    };

    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("\n%s on %s\n", date, machineDescription().c_str());
    if (settings.quick)
        std::printf("(quick run: reduced sizes and rounds; the figures mean nothing, targets not judged)\n");
    std::printf("\n");
    printLine(cells[0]);
    for (const std::size_t width : widths) std::printf("|%s", std::string(width + 2, '-').c_str());
    std::printf("|\n");
    for (std::size_t i = 1; i < cells.size(); ++i) printLine(cells[i]);
    const auto met = std::count_if(rows.begin(), rows.end(), [](const Row& row) { return row.met; });
    if (!settings.quick) std::printf("\n%ld of %zu targets met.\n", static_cast<long>(met), rows.size());
}

// ---------------------------------------------------------------- cases

// The bodies the request cases fetch and the encoder cases work on.
struct Bodies {
    std::string small;
    std::string largeRandom;
    std::string largeNonZero;  // for the raw case, which ends at a zero byte

    explicit Bodies(const Settings& settings)
        : small(randomBytes(1024, false)),
          largeRandom(randomBytes(settings.largeBody, true)),
          largeNonZero(randomBytes(settings.largeBody, false)) {}
};

// What the server serves: a path and its body, whether it comes from the
// server in this program or from files written with --write-files.
std::map<std::string, const std::string*> servedFiles(const Bodies& bodies) {
    return {{"/1k", &bodies.small}, {"/large", &bodies.largeRandom}, {"/large-nonzero", &bodies.largeNonZero}};
}

struct Fixture {
    const Settings& settings;
    const HostLibrary& library;
    const std::string& baseUrl;
    const Bodies& bodies;

    std::string url(const std::string& path) const { return baseUrl + path; }
};

// The bare loop is also run against itself: how far that ratio strays
// from 1 shows how much noise the machine put into this run.
Row requestCase(const Fixture& f, std::vector<std::string>& notes) {
    const std::string url = f.url("/1k");
    const int batch = f.settings.requestsPerRound;
    const auto viaLibrary = [&] {
        for (int i = 0; i < batch; ++i) {
            HostStrings result(f.library);
            const int code = f.library.exports.TwHttpCall("GET", url.c_str(), "", "", &result.headers, &result.body);
            require(code == 200 && f.bodies.small == result.body, "1 KiB GET through the library");
        }
    };
    const auto bare = [&] {
        for (int i = 0; i < batch; ++i) require(bench::bareGet(url).body == f.bodies.small, "1 KiB bare GET");
    };
    const Paired paired = interleaved(f.settings.requestRounds, viaLibrary, bare);
    const Paired noise = interleaved(f.settings.requestRounds, bare, bare);
    notes.push_back("1 KiB GET, bare loop against itself (the run's noise): " + format("%.3f", noise.ratio) + ".");
    return atMost("1 KiB GET, time per request", format("%.1f us", paired.a / batch * 1e6),
                  format("%.1f us", paired.b / batch * 1e6), paired.ratio, 1.03);
}

struct LargeCase {
    const char* name;
    int encoding;
    double peakLimit;
    std::function<std::unique_ptr<char[]>(const std::string&)> floor;
};

const std::vector<LargeCase>& largeCases() {
    static const std::vector<LargeCase> cases = {
        {"raw", 0, 2.3, bench::rawCopy},
        {"base64", 1, 2.6, bench::opensslBase64},
        {"decimal", 3, 4.9, [](const std::string& body) { return bench::tableDecimal(body, ','); }},
        {"hex", 5, 4.4, [](const std::string& body) { return bench::tableHex(body, ','); }},
    };
    return cases;
}

std::string largePath(const LargeCase& c) {
    return c.encoding == 0 ? "/large-nonzero" : "/large";
}

std::string sizeName(std::size_t bytes) {
    return bytes >= (std::size_t{1} << 20) ? format("%.0f MiB", static_cast<double>(bytes) / MIB)
                                           : format("%.0f KiB", static_cast<double>(bytes) / 1024);
}

// Returns the length of the expected text, checked against the floor's.
std::size_t checkLargeCase(const Fixture& f, const LargeCase& c, const std::string& url) {
    HostStrings result(f.library);
    const int code = f.library.exports.sendEncodedRequestEncodeResponse(url.c_str(), "GET", "", "", 0, c.encoding, 0,
                                                                        &result.headers, &result.body);
    const auto expected = c.floor(bench::bareGet(url).body);
    require(code == 200 && std::strcmp(result.body, expected.get()) == 0,
            std::string("library and floor agree on ") + c.name);
    return std::strlen(expected.get());
}

Row largeTransferCase(const Fixture& f, const LargeCase& c) {
    const std::string url = f.url(largePath(c));
    checkLargeCase(f, c, url);
    const Paired paired = interleaved(
        f.settings.largeRounds,
        [&] {
            HostStrings result(f.library);
            f.library.exports.sendEncodedRequestEncodeResponse(url.c_str(), "GET", "", "", 0, c.encoding, 0,
                                                               &result.headers, &result.body);
        },
        [&] { c.floor(bench::bareGet(url).body); });
    return atMost(sizeName(f.settings.largeBody) + " GET " + c.name + " / floor", format("%.1f ms", paired.a * 1e3),
                  format("%.1f ms", paired.b * 1e3), paired.ratio, 1.10);
}

// Peak resident memory (KiB) of a helper process making the request
// settings.peakCalls times, as it reports it on its standard output.
long peakKibOfCalls(const Fixture& f, const LargeCase& c, const std::string& url, std::size_t expected) {
    const std::string encoding = std::to_string(c.encoding);
    const std::string length = std::to_string(expected);
    const std::string calls = std::to_string(f.settings.peakCalls);
    std::vector<char*> argv = {const_cast<char*>(f.settings.peakHelper.c_str()),
                               const_cast<char*>(f.settings.library.c_str()),
                               const_cast<char*>(url.c_str()),
                               const_cast<char*>(encoding.c_str()),
                               const_cast<char*>(length.c_str()),
                               const_cast<char*>(calls.c_str()),
                               nullptr};
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    char buffer[64];
    for (ssize_t n; spawned == 0 && (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    close(pipeEnds[0]);
    if (spawned != 0) throw std::runtime_error("cannot start " + f.settings.peakHelper);
    int status = 0;
    waitpid(pid, &status, 0);
    require(WIFEXITED(status) && WEXITSTATUS(status) == 0 && !output.empty(),
            std::string("peak-memory helper for ") + c.name);
    return std::stol(output);
}

Row peakMemoryCase(const Fixture& f, const LargeCase& c) {
    const std::string url = f.url(largePath(c));
    const std::size_t expected = checkLargeCase(f, c, url);
    std::vector<double> peaks;
    for (int run = 0; run < f.settings.peakRuns; ++run) {
        peaks.push_back(static_cast<double>(peakKibOfCalls(f, c, url, expected)) * 1024.0);
    }
    const double peak = median(peaks);
    const auto body = static_cast<double>(f.settings.largeBody);
    return atMost("peak memory, " + std::to_string(f.settings.peakCalls) + " calls, " + c.name + " / body",
                  format("%.1f MiB", peak / MIB), format("%.1f MiB", body / MIB), peak / body, c.peakLimit);
}

// While alive, every allocation in this process is carved from the heap
// and recycled after free(): glibc maps results over its 32 MiB threshold
// fresh each time otherwise, and fresh pages cost this VM more than the
// encoding itself.
class RecycledMemory {
public:
    RecycledMemory() {
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
    ~RecycledMemory() {
        mallopt(M_MMAP_MAX, 65536);  // glibc's defaults
        mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    }
    RecycledMemory(const RecycledMemory&) = delete;
    RecycledMemory& operator=(const RecycledMemory&) = delete;
};

// The encoders are compared with recycled memory on both sides, as their
// own speed; what fresh pages add is the same for any encoder.
Row base64EncodeCase(const Fixture& f) {
    const RecycledMemory recycled;
    const std::string& bytes = f.bodies.largeRandom;
    require(base64_encode(bytes) == bench::opensslBase64(bytes).get(), "base64_encode agrees with OpenSSL");
    const Paired paired = interleaved(
        f.settings.encoderRounds, [&] { base64_encode(bytes); }, [&] { bench::opensslBase64(bytes); });
    return atLeast("base64_encode " + sizeName(bytes.size()) + ", speed / OpenSSL",
                   megabytesPerSecond(bytes.size(), paired.a), megabytesPerSecond(bytes.size(), paired.b),
                   1 / paired.ratio, 1.0);
}

Row base64DecodeCase(const Fixture& f) {
    const RecycledMemory recycled;
    const std::string text = base64_encode(f.bodies.largeRandom);
    std::unique_ptr<unsigned char[]> decoded;
    bench::opensslDecode(text, decoded);
    require(base64_decode(text) == f.bodies.largeRandom &&
                std::memcmp(decoded.get(), f.bodies.largeRandom.data(), f.bodies.largeRandom.size()) == 0,
            "base64_decode and OpenSSL give back the bytes");
    const Paired paired = interleaved(
        f.settings.encoderRounds, [&] { base64_decode(text); }, [&] { bench::opensslDecode(text, decoded); });
    return atLeast("base64_decode " + sizeName(f.bodies.largeRandom.size()) + ", speed / OpenSSL",
                   megabytesPerSecond(f.bodies.largeRandom.size(), paired.a),
                   megabytesPerSecond(f.bodies.largeRandom.size(), paired.b), 1 / paired.ratio, 1.0);
}

// The result of the 16 MiB text is just over 32 MiB. Both sides of each
// comparison get recycled memory (curl_easy_escape's 1 MiB pieces always
// do), so the figures compare encoders; the cost with fresh memory is
// reported in a note.
std::vector<Row> percentEncodingCases(const Fixture& f, std::vector<std::string>& notes) {
    const std::string large = textHalfNeedingEscapes(f.settings.escapeText);
    const std::string small = large.substr(0, large.size() / 16);
    const auto escape = [&](const std::string& text) {
        f.library.exports.freemem(f.library.exports.TwUrlEncodeJS(text.c_str()));
    };
    {
        char* escaped = f.library.exports.TwUrlEncodeJS(large.c_str());
        const bool same = bench::percentEncodeJS(large) == escaped;
        f.library.exports.freemem(escaped);
        require(same, "TwUrlEncodeJS agrees with a plain encoder");
    }
    std::vector<double> fresh;
    for (int round = 0; round < f.settings.encoderRounds; ++round) fresh.push_back(secondsOf([&] { escape(large); }));
    notes.push_back("TwUrlEncodeJS " + sizeName(large.size()) + " with a fresh result (~" + sizeName(2 * large.size()) +
                    " of new pages each call): " + format("%.2f ms", median(fresh) * 1e3) + ", " +
                    megabytesPerSecond(large.size(), median(fresh)) + ".");

    const RecycledMemory recycled;
    const Paired speed = interleaved(
        f.settings.encoderRounds, [&] { escape(large); }, [&] { bench::curlEscapeInChunks(large); });
    const double libraryRate = static_cast<double>(large.size()) / speed.a / 1e6;
    Row versusCurl = atLeast("TwUrlEncodeJS " + sizeName(large.size()) + ", speed / curl_easy_escape",
                             megabytesPerSecond(large.size(), speed.a), megabytesPerSecond(large.size(), speed.b),
                             1 / speed.ratio, 10.0);
    versusCurl.target = ">= 10, 1 GB/s";
    versusCurl.met = versusCurl.met && libraryRate >= 1000;

    const Paired growth = interleaved(
        f.settings.encoderRounds, [&] { escape(large); }, [&] { escape(small); });
    Row linear = atMost("TwUrlEncodeJS time, " + sizeName(large.size()) + " / " + sizeName(small.size()),
                        format("%.2f ms", growth.a * 1e3), format("%.2f ms", growth.b * 1e3), growth.ratio, 18.0);
    return {versusCurl, linear};
}

// Every group of cases, in the order they run (--only picks one by name).
// A group gets the fixture and may add notes to print under the table.
using Group = std::function<std::vector<Row>(const Fixture&, std::vector<std::string>& notes)>;

const std::vector<std::pair<std::string, Group>>& groups() {
    static const std::vector<std::pair<std::string, Group>> all = {
        {"request", [](const Fixture& f, auto& notes) { return std::vector<Row>{requestCase(f, notes)}; }},
        {"transfer",
         [](const Fixture& f, auto&) {
             std::vector<Row> rows;
             for (const auto& c : largeCases()) rows.push_back(largeTransferCase(f, c));
             return rows;
         }},
        {"memory",
         [](const Fixture& f, auto&) {
             std::vector<Row> rows;
             for (const auto& c : largeCases()) rows.push_back(peakMemoryCase(f, c));
             return rows;
         }},
        {"base64",
         [](const Fixture& f, auto&) {
             return std::vector<Row>{base64EncodeCase(f), base64DecodeCase(f)};
         }},
        {"escape", percentEncodingCases},
    };
    return all;
}

Settings parseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--quick") {
            settings.makeQuick();
        } else if (argument == "--only" && hasValue) {
            settings.only = argv[++i];
        } else if (argument == "--server" && hasValue) {
            settings.serverUrl = argv[++i];
        } else if (argument == "--write-files" && hasValue) {
            settings.writeFilesTo = argv[++i];
        } else if (argument == "--library" && hasValue) {
            settings.library = argv[++i];
        } else if (argument == "--peak-helper" && hasValue) {
            settings.peakHelper = argv[++i];
        } else {
            throw std::runtime_error(
                "usage: tw_bench [--quick] [--only GROUP] [--server URL | --write-files DIR] [--library PATH] "
                "[--peak-helper PATH]");
        }
    }
    const auto& all = groups();
    if (!settings.only.empty() &&
        std::none_of(all.begin(), all.end(), [&](const auto& g) { return g.first == settings.only; })) {
        throw std::runtime_error("no such group: " + settings.only);
    }
    return settings;
}

void writeFiles(const Bodies& bodies, const std::string& directory) {
    for (const auto& [path, body] : servedFiles(bodies)) {
        std::ofstream file(directory + path, std::ios::binary);
        file.write(body->data(), static_cast<std::streamsize>(body->size()));
        if (!file.flush()) throw std::runtime_error("cannot write " + directory + path);
    }
}

void progress(const Row& row) {
    std::fprintf(stderr, "  %-40s %s / %s\n", row.name.c_str(), row.library.c_str(), row.reference.c_str());
}

int run(const Settings& settings) {
    const Bodies bodies(settings);
    if (!settings.writeFilesTo.empty()) {
        writeFiles(bodies, settings.writeFilesTo);
        return 0;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const HostLibrary library(settings.library);
    std::unique_ptr<bench::LoopbackServer> inProcess;
    if (settings.serverUrl.empty()) inProcess = std::make_unique<bench::LoopbackServer>(servedFiles(bodies));
    const std::string baseUrl = inProcess ? inProcess->url("") : settings.serverUrl;
    const Fixture fixture{settings, library, baseUrl, bodies};
    const std::string loadBefore = loadAverage();

    std::vector<Row> rows;
    std::vector<std::string> notes;
    for (const auto& [name, group] : groups()) {
        if (!settings.only.empty() && settings.only != name) continue;
        for (auto& row : group(fixture, notes)) {
            progress(row);
            rows.push_back(std::move(row));
        }
    }
    notes.insert(notes.begin(), std::string("request cases served by ") +
                                    (inProcess ? "a server inside the benchmark process" : baseUrl) +
                                    "; load average before " + loadBefore + ", after " + loadAverage() + ".");
    printTable(rows, settings);
    for (const auto& note : notes) std::printf("Note: %s\n", note.c_str());
    curl_global_cleanup();
    const bool allMet = std::all_of(rows.begin(), rows.end(), [](const Row& row) { return row.met; });
    return settings.quick || allMet ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(parseArguments(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tw_bench: %s\n", error.what());
        return 1;
    }
}
