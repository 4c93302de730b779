// LibraryLoader: loads a shared library by path and finds its exports by plain name, as a scripting host does.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>

namespace tw {

class LibraryLoader {
public:
    // Throws std::runtime_error "cannot load the library: <path and reason>".
    explicit LibraryLoader(const std::string& path) {
#ifdef _WIN32
        handle_ = LoadLibraryA(path.c_str());
        if (handle_ == nullptr) throw std::runtime_error("cannot load the library: " + path + ": " + lastError());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load the library: ") + dlerror());
#endif
    }
    ~LibraryLoader() {
#ifdef _WIN32
        FreeLibrary(handle_);
#else
        dlclose(handle_);
#endif
    }
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;

    // Throws std::runtime_error "the library has no export <name>".
    void* symbol(const char* name) const {
#ifdef _WIN32
        void* address = reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
        void* address = dlsym(handle_, name);
#endif
        if (address == nullptr) throw std::runtime_error(std::string("the library has no export ") + name);
        return address;
    }

    // The export as a typed function: function<decltype(TwHttpCall)>("TwHttpCall").
    template <typename Fn>
    Fn* function(const char* name) const {
        return reinterpret_cast<Fn*>(symbol(name));
    }

private:
#ifdef _WIN32
    static std::string lastError() {
        char text[512] = "";
        const DWORD code = GetLastError();
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                       nullptr);
        std::string message(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
        return message.empty() ? "error " + std::to_string(code) : message;
    }
    HMODULE handle_;
#else
    void* handle_;
#endif
};

}  // namespace tw
