// twcall: a command-line host for libTarnwellFunctions.so (and, on Windows,
// TarnwellFunctions.dll).
//
// It does what a scripting host does: load the library, find an export by
// its plain name, call it with strings and ints, read the handed-out strings
// and give every one of them back to freemem. The header is included only
// for the exports' types (decltype); nothing of the library is linked. Only
// -o differs from a plain host: it fetches a raw body base64-encoded, so the
// file gets every byte.
#include "Exports.h"

#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

#if defined(_WIN32)
constexpr const char* LIBRARY_FILE = "TarnwellFunctions.dll";
#else
constexpr const char* LIBRARY_FILE = "libTarnwellFunctions.so";
#endif
constexpr const char* LIBRARY_ENV = "TARNWELL_LIBRARY";
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// Wrong command lines end the program with exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ------------------------------------------------------- the library

using tw::Export;
using tw::Kind;
using tw::Param;
using tw::Returns;
using tw::Slot;
using FreeMem = decltype(&::freemem);

class Library {
public:
    explicit Library(const std::string& path)
        : loader_(path), freemem_(loader_.function<decltype(::freemem)>("freemem")) {}

    void* symbol(const char* name) const { return loader_.symbol(name); }
    FreeMem freemem() const { return freemem_; }

private:
    tw::LibraryLoader loader_;
    FreeMem freemem_;
};

// A string the library handed out; given back to freemem when it goes.
class HostString {
public:
    HostString(char* text, FreeMem freemem) : text_(text), freemem_(freemem) {}
    HostString(HostString&& other) noexcept : text_(std::exchange(other.text_, nullptr)), freemem_(other.freemem_) {}
    HostString(const HostString&) = delete;
    HostString& operator=(const HostString&) = delete;
    HostString& operator=(HostString&&) = delete;
    ~HostString() { freemem_(text_); }

    bool isNull() const { return text_ == nullptr; }
    std::string text() const { return text_ != nullptr ? std::string(text_) : std::string(); }

private:
    char* text_;
    FreeMem freemem_;
};

// What one call gave back; the strings are already owned.
struct Outcome {
    Returns returns = Returns::Nothing;
    int status = 0;
    std::vector<HostString> strings;  // out-parameters in order, or the returned string
};

Outcome call(const Export& entry, const Library& library, std::vector<Slot>& slots) {
    const tw::Returned returned = entry.invoke(library.symbol(entry.name), slots);
    Outcome outcome;
    outcome.returns = entry.returns;
    outcome.status = returned.status;
    if (entry.returns == Returns::String) outcome.strings.emplace_back(returned.text, library.freemem());
    for (auto& slot : slots) {
        if (slot.out != nullptr) outcome.strings.emplace_back(std::exchange(slot.out, nullptr), library.freemem());
    }
    return outcome;
}

bool isGiven(const Param& param) {
    return param.kind == Kind::Text || param.kind == Kind::Int;
}

// "sendRequest url method ... skipCertificateVerification:int -> int responseHeaders responseBody"
std::string synopsis(const Export& entry) {
    std::string given;
    std::string out;
    for (const auto& param : entry.params) {
        if (isGiven(param)) given += std::string(" ") + param.name + (param.kind == Kind::Int ? ":int" : "");
        if (param.kind == Kind::Out) out += std::string(" ") + param.name;
    }
    const Kind first = entry.params.empty() ? Kind::Text : entry.params.front().kind;
    if (!out.empty()) return entry.name + given + "  -> int," + out;
    if (first == Kind::Pointer)
        return std::string(entry.name) + "  (called with NULL; twcall frees every string itself)";
    return entry.name + given + "  -> string";
}

// ------------------------------------------------------- arguments

int parseInt(const std::string& text, const Export& entry, const char* name) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || ptr != end) {
        throw UsageError(std::string(name) + " must be an integer, not '" + text + "'\nusage: twcall " +
                         synopsis(entry));
    }
    return value;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "@file" stands for the file's content, "@@..." for a literal '@...'.
// A text argument ends at its first zero byte, so a file holding one
// would arrive cut short.
std::string textArgument(const std::string& arg) {
    if (arg.rfind("@@", 0) == 0) return arg.substr(1);
    if (arg.rfind('@', 0) != 0) return arg;
    std::string content = readFile(arg.substr(1));
    if (content.find('\0') != std::string::npos) {
        throw UsageError(arg.substr(1) + " holds a zero byte, where a text argument ends; send binary data " +
                         "base64-encoded through an In64 export (or bodyIsBase64 1)");
    }
    return content;
}

// The slots point into `texts`, which holds the text arguments.
struct Arguments {
    std::vector<std::string> texts;
    std::vector<Slot> slots;
};

Arguments bindArguments(const Export& entry, const std::vector<std::string>& args) {
    std::size_t wanted = 0;
    for (const auto& param : entry.params) wanted += isGiven(param) ? 1 : 0;
    if (args.size() != wanted) {
        throw UsageError(std::string(entry.name) + " takes " + std::to_string(wanted) + " argument(s), " +
                         std::to_string(args.size()) + " given\nusage: twcall " + synopsis(entry));
    }
    Arguments bound{std::vector<std::string>(entry.params.size()), std::vector<Slot>(entry.params.size())};
    auto next = args.begin();
    for (std::size_t i = 0; i < entry.params.size(); ++i) {
        const Param& param = entry.params[i];
        if (param.kind == Kind::Text) bound.texts[i] = textArgument(*next++);
        if (param.kind == Kind::Int) bound.slots[i].number = parseInt(*next++, entry, param.name);
        bound.slots[i].text = bound.texts[i].c_str();
    }
    return bound;
}

// --------------------------------------------------------- options

struct Options {
    std::string library;
    std::string bodyFile;
    bool quiet = false;
    bool help = false;
    std::string exportName;
    std::vector<std::string> args;
};

#if defined(_WIN32)
// Windows looks beside the program first when loading a DLL by name.
std::string defaultLibrary() {
    const char* fromEnvironment = std::getenv(LIBRARY_ENV);
    return fromEnvironment != nullptr && *fromEnvironment ? fromEnvironment : LIBRARY_FILE;
}
#else
std::string directoryOfThisProgram() {
    std::vector<char> path(4096);
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return ".";
    const std::string self(path.data(), static_cast<std::size_t>(n));
    return self.substr(0, self.find_last_of('/'));
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// The library beside this program (build tree), else where an install puts
// it relative to bin/, else whatever the dynamic loader finds. An install
// may hold only the SONAME (the .so link comes with the development files).
std::string defaultLibrary() {
    if (const char* fromEnvironment = std::getenv(LIBRARY_ENV); fromEnvironment != nullptr && *fromEnvironment) {
        return fromEnvironment;
    }
    const std::string here = directoryOfThisProgram();
    for (const std::string& candidate :
         {here + "/" + LIBRARY_FILE, here + "/../" + TW_INSTALL_LIBDIR + "/" + TW_LIBRARY_SONAME}) {
        if (fileExists(candidate)) return candidate;
    }
    return TW_LIBRARY_SONAME;
}
#endif

std::string optionValue(const std::vector<std::string>& argv, std::size_t& i, const std::string& longName) {
    const std::string& arg = argv[i];
    if (arg.rfind(longName + "=", 0) == 0) return arg.substr(longName.size() + 1);
    if (i + 1 >= argv.size()) throw UsageError(arg + " needs a value");
    return argv[++i];
}

// Options come before the export name; everything after it is an argument.
Options parseOptions(const std::vector<std::string>& argv) {
    Options options;
    std::size_t i = 0;
    for (; i < argv.size() && argv[i].rfind('-', 0) == 0; ++i) {
        const std::string& arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-l" || arg.rfind("--library", 0) == 0) {
            options.library = optionValue(argv, i, "--library");
        } else if (arg == "-o" || arg.rfind("--output", 0) == 0) {
            options.bodyFile = optionValue(argv, i, "--output");
        } else {
            throw UsageError("unknown option " + arg + " (see twcall --help)");
        }
    }
    if (options.help) return options;
    if (i == argv.size()) throw UsageError("no export named (see twcall --help)");
    options.exportName = argv[i];
    options.args.assign(argv.begin() + static_cast<std::ptrdiff_t>(i) + 1, argv.end());
    if (options.library.empty()) options.library = defaultLibrary();
    return options;
}

void printHelp(std::ostream& out) {
    out << "usage: twcall [options] EXPORT ARGUMENT...\n"
           "\n"
           "Loads "
        << LIBRARY_FILE
        << " as a host does, calls EXPORT with the arguments in\n"
           "the export's own order (out-parameters are not given), prints the result, the\n"
           "header JSON and the body, and frees every returned string with freemem.\n"
           "Exit code: 0 on success (request exports: result not 0), 1 on failure, 2 on a\n"
           "wrong command line.\n"
           "\n"
           "options:\n"
           "  -l, --library PATH  the library to load (default: $"
        << LIBRARY_ENV
        << ", else the one beside twcall)\n"
           "  -o, --output FILE   write the body to FILE instead of printing it; a raw body\n"
           "                      arrives whole, zero bytes included (twcall asks for it\n"
           "                      base64-encoded and writes the decoded bytes)\n"
           "  -q, --quiet         print only the body\n"
           "  -h, --help          this text\n"
           "A text argument @FILE is the content of FILE (@@x is the literal @x).\n"
           "\n"
           "examples, against Python's file server run in a directory that holds hello.txt\n"
           "and logo.png (python3 -m http.server 8000 --bind 127.0.0.1):\n"
           "  twcall TwHttpCall GET http://127.0.0.1:8000/hello.txt \"\" \"\"\n"
           "  twcall -o copy.png TwHttpCall GET http://127.0.0.1:8000/logo.png \"\" \"\"\n"
           "  twcall TwHttpRequest @request.json\n"
           "      (request.json: {\"url\":\"http://127.0.0.1:8000/hello.txt\",\"timeoutMs\":5000})\n"
           "  twcall TwUrlEncodeJS \"a b&c\"\n"
           "A verified https call needs curl-ca-bundle.crt in the current directory, or\n"
           "TwHttpRequest's caBundle (see the README).\n"
           "\n"
           "exports:\n";
    for (const auto& entry : tw::exportTable()) out << "  " << synopsis(entry) << "\n";
}

// ---------------------------------------------------------- output

void emitBody(const std::string& body, const Options& options) {
    if (!options.bodyFile.empty()) {
        std::ofstream file(options.bodyFile, std::ios::binary);
        file << body;
        if (!file.flush()) throw std::runtime_error("cannot write " + options.bodyFile);
        if (!options.quiet) std::cout << "body: written to " << options.bodyFile << " (" << body.size() << " bytes)\n";
        return;
    }
    if (options.quiet) {
        std::cout << body;
        return;
    }
    std::cout << "body:\n" << body << (body.empty() || body.back() != '\n' ? "\n" : "");
}

// ------------------------------------------------- raw bodies in files

// A raw body reaches a host only up to its first zero byte. So that -o
// writes every byte, twcall asks for a raw body base64-encoded instead and
// writes the decoded bytes: through the export's base64 sibling, with
// responseEncoding 1, or with TwHttpRequest's "responseEncoding":"base64".
struct Call {
    const Export* entry;
    Arguments arguments;
    bool base64Body = false;  // the body comes base64-encoded for a raw one
};

// Exports whose body is always raw, and the export that takes the same
// arguments (by name; bodyIsBase64 0) and returns the body in base64.
constexpr std::pair<const char*, const char*> BASE64_SIBLINGS[] = {
    {"sendRequest", "sendEncodedRequestEncodeResponse"},
    {"sendAuthRequest", "sendAuthEncodedRequestEncodeResponse"},
    {"TwHttpCall", "TwHttpCallBase64"},
    {"TwHttpCallIn64", "TwHttpCallBase64In64"},
    {"TwAuthHttpCall", "TwAuthHttpCallBase64"},
    {"TwAuthHttpCallIn64", "TwAuthHttpCallBase64In64"},
};
constexpr int BASE64_ENCODING = 1;

bool isRawEncoding(int responseEncoding) {
    return responseEncoding < 1 || responseEncoding > 5;  // as the library reads it
}

std::size_t indexOf(const Export& entry, const std::string& name) {
    for (std::size_t i = 0; i < entry.params.size(); ++i) {
        if (name == entry.params[i].name) return i;
    }
    return entry.params.size();
}

void pointSlotsAtTexts(Arguments& arguments) {
    for (std::size_t i = 0; i < arguments.slots.size(); ++i) arguments.slots[i].text = arguments.texts[i].c_str();
}

// The arguments of `from` for `to`, matched by parameter name.
Arguments rebind(const Export& from, const Arguments& given, const Export& to) {
    Arguments bound{std::vector<std::string>(to.params.size()), std::vector<Slot>(to.params.size())};
    for (std::size_t i = 0; i < to.params.size(); ++i) {
        const std::size_t at = indexOf(from, to.params[i].name);
        if (at < from.params.size()) {
            bound.texts[i] = given.texts[at];
            bound.slots[i].number = given.slots[at].number;
        } else if (std::string(to.params[i].name) == "responseEncoding") {
            bound.slots[i].number = BASE64_ENCODING;
        }  // bodyIsBase64 stays 0
    }
    pointSlotsAtTexts(bound);
    return bound;
}

// TwHttpRequest's JSON asking for base64 where it asks for a raw body;
// nothing when it asks for another encoding, or is no JSON object at all
// (the library then gives its own message).
std::optional<std::string> base64Request(const std::string& requestJson) {
    using nlohmann::json;
    // The library refuses deeper JSON; twcall leaves it to say so.
    constexpr int MAX_DEPTH = 1000;
    const json::parser_callback_t limitDepth = [](int depth, json::parse_event_t event, json&) {
        const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= MAX_DEPTH) throw std::length_error("too deep");
        return true;
    };
    try {
        json request = json::parse(requestJson, limitDepth);
        if (!request.is_object()) return std::nullopt;
        const auto encoding = request.find("responseEncoding");
        const bool raw = encoding == request.end() || (encoding->is_string() && *encoding == "raw") ||
                         (encoding->is_number_integer() && *encoding == 0);
        if (!raw) return std::nullopt;
        request["responseEncoding"] = "base64";
        return request.dump();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Call byteSafeCall(const Export& entry, Arguments arguments) {
    const std::string name = entry.name;
    for (const auto& [raw, sibling] : BASE64_SIBLINGS) {
        if (name != raw) continue;
        const Export* target = tw::findExport(sibling);
        Arguments bound = rebind(entry, arguments, *target);
        return Call{target, std::move(bound), true};
    }
    if (const std::size_t at = indexOf(entry, "responseEncoding"); at < entry.params.size()) {
        if (!isRawEncoding(arguments.slots[at].number)) return Call{&entry, std::move(arguments)};
        arguments.slots[at].number = BASE64_ENCODING;
        return Call{&entry, std::move(arguments), true};
    }
    if (name == "TwHttpRequest") {
        std::optional<std::string> request = base64Request(arguments.texts.at(0));
        if (!request) return Call{&entry, std::move(arguments)};
        arguments.texts[0] = std::move(*request);
        pointSlotsAtTexts(arguments);
        return Call{&entry, std::move(arguments), true};
    }
    return Call{&entry, std::move(arguments)};  // Base64 and Bytes exports: their text as it is
}

int base64Digit(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Standard, padded base64 on one line, as the library writes it.
std::string base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) throw std::runtime_error("the base64 body is not whole");
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const std::size_t padding = text[i + 3] != '=' ? 0 : text[i + 2] != '=' ? 1 : 2;
        if (padding > 0 && i + 4 != text.size()) throw std::runtime_error("the base64 body is not whole");
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int digit = k < 4 - padding ? base64Digit(static_cast<unsigned char>(text[i + k])) : 0;
            if (digit < 0) throw std::runtime_error("the base64 body is not base64");
            group = group << 6 | static_cast<std::uint32_t>(digit);
        }
        const char decoded[] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8 & 0xFF),
                                static_cast<char>(group & 0xFF)};
        bytes.append(decoded, 3 - padding);
    }
    return bytes;
}

int report(const Outcome& outcome, const Options& options, bool base64Body) {
    if (outcome.returns == Returns::Nothing) return EXIT_OK;
    if (outcome.returns == Returns::String) {
        const HostString& result = outcome.strings.front();
        if (result.isNull()) {
            std::cerr << "twcall: the export returned NULL (out of memory)\n";
            return EXIT_FAILED;
        }
        if (options.quiet || !options.bodyFile.empty()) {
            emitBody(result.text(), options);
        } else {
            std::cout << "result: " << result.text() << "\n";
        }
        return EXIT_OK;
    }
    const bool ok = outcome.status != 0;
    if (!options.quiet) {
        std::cout << "result: " << outcome.status << (ok ? "" : " (failed)") << "\n";
        std::cout << "headers: " << outcome.strings.at(0).text() << "\n";
    }
    // A failed call's body is its message, never base64.
    const std::string body = outcome.strings.at(1).text();
    emitBody(base64Body && ok ? base64Decode(body) : body, options);
    return ok ? EXIT_OK : EXIT_FAILED;
}

int run(const std::vector<std::string>& argv) {
    const Options options = parseOptions(argv);
    if (options.help) {
        printHelp(std::cout);
        return EXIT_OK;
    }
    const Export* entry = tw::findExport(options.exportName);
    if (entry == nullptr) throw UsageError("no export named " + options.exportName + " (see twcall --help)");
    Call request{entry, bindArguments(*entry, options.args)};
    if (!options.bodyFile.empty()) request = byteSafeCall(*entry, std::move(request.arguments));
    const Library library(options.library);
    const Outcome outcome = call(*request.entry, library, request.arguments.slots);
    return report(outcome, options, request.base64Body);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // Bodies are bytes: no CR before LF on the way out.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "twcall: " << error.what() << "\n";
        return EXIT_USAGE;
    } catch (const std::exception& error) {
        std::cerr << "twcall: " << error.what() << "\n";
        return EXIT_FAILED;
    }
}
