#include "support/Host.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tw_test {

Host& Host::instance() {
    static Host host;
    return host;
}

// Without the library no test can run: stop loudly.
Host::Host() {
    try {
        library_ = std::make_unique<tw::Library>(TW_LIBRARY_PATH);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", TW_LIBRARY_PATH, error.what());
        std::abort();
    }
}

std::string Host::take(char* text) const {
    std::string copy = text != nullptr ? std::string(text) : std::string("<null>");
    api().freemem(text);
    return copy;
}

CallResult takeResult(int code, char* headers, char* body) {
    const Host& host = Host::instance();
    CallResult result;
    result.code = code;
    result.headers = host.take(headers);
    result.body = host.take(body);
    return result;
}

namespace {

// Collects the members of one flat object; nlohmann's DOM would merge
// duplicate names, which the header text is allowed to hold.
class HeaderCollector : public nlohmann::json::json_sax_t {
public:
    std::vector<std::pair<std::string, std::string>> members;

    bool key(string_t& name) override {
        members.emplace_back(name, "");
        return true;
    }
    bool string(string_t& value) override {
        if (depth_ != 1 || members.empty()) return false;
        members.back().second = value;
        return true;
    }
    bool start_object(std::size_t) override { return ++depth_ == 1; }
    bool end_object() override { return --depth_ == 0; }
    bool null() override { return false; }
    bool boolean(bool) override { return false; }
    bool number_integer(number_integer_t) override { return false; }
    bool number_unsigned(number_unsigned_t) override { return false; }
    bool number_float(number_float_t, const string_t&) override { return false; }
    bool binary(binary_t&) override { return false; }
    bool start_array(std::size_t) override { return false; }
    bool end_array() override { return false; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override { return false; }

private:
    int depth_ = 0;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> parseHeaderJson(const std::string& text) {
    HeaderCollector collector;
    if (!nlohmann::json::sax_parse(text, &collector)) throw std::invalid_argument("not header JSON: " + text);
    return collector.members;
}

std::vector<const tw::Export*> requestExports() {
    std::vector<const tw::Export*> exports;
    for (const auto& entry : tw::exportTable()) {
        // TwHttpRequest returns a status too, but takes its URL inside requestJson.
        const bool takesUrl = std::any_of(entry.params.begin(), entry.params.end(),
                                          [](const tw::Param& param) { return std::string(param.name) == "url"; });
        if (entry.returns == tw::Returns::Status && takesUrl) exports.push_back(&entry);
    }
    return exports;
}

CallResult call(const tw::Export& requestExport, const NamedArgs& args) {
    std::vector<tw::Slot> slots(requestExport.params.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const std::string name = requestExport.params[i].name;
        if (const auto text = args.texts.find(name); text != args.texts.end()) slots[i].text = text->second;
        if (const auto number = args.numbers.find(name); number != args.numbers.end()) slots[i].number = number->second;
    }
    // Every request export ends in responseHeaders, responseBody.
    tw::Slot& headers = slots[slots.size() - 2];
    tw::Slot& body = slots.back();
    headers.outGiven = args.headersGiven;
    body.outGiven = args.bodyGiven;
    const tw::Returned returned = requestExport.invoke(Host::instance().symbol(requestExport.name), slots);
    return takeResult(returned.status, headers.out, body.out);
}

CallResult callTw(const char* exportName, const std::string& method, const std::string& url,
                  const std::string& headersJson, const std::string& body) {
    char* headers = nullptr;
    char* responseBody = nullptr;
    const int code = Host::instance().fn<decltype(TwHttpCall)>(exportName)(
        method.c_str(), url.c_str(), headersJson.c_str(), body.c_str(), &headers, &responseBody);
    return takeResult(code, headers, responseBody);
}

CallResult callCore(const std::string& url, const std::string& username, const std::string& password,
                    const std::string& method, const std::string& headersJson, const std::string& body,
                    int bodyIsBase64, int responseEncoding, int skipCertificateVerification) {
    char* headers = nullptr;
    char* responseBody = nullptr;
    const int code = Host::instance().api().sendAuthEncodedRequestEncodeResponse(
        url.c_str(), username.c_str(), password.c_str(), method.c_str(), headersJson.c_str(), body.c_str(),
        bodyIsBase64, responseEncoding, skipCertificateVerification, &headers, &responseBody);
    return takeResult(code, headers, responseBody);
}

}  // namespace tw_test
