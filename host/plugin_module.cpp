// Module loading for the substitute host: dlopen on POSIX systems, LoadLibraryW on Windows.
#include "plugin_module.h"

#include <utility>

#if defined(_WIN32)
#include <filesystem>
#include <system_error>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ruvivedu::host {

namespace {

#if defined(_WIN32)

std::string last_system_error()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) {
        LocalFree(text);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message;
}

void* open_module(const std::string& path, std::string& error)
{
    const int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (wide_length <= 0) {
        error = "path is not valid UTF-8";
        return nullptr;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), wide_length);
    wide.resize(static_cast<std::size_t>(wide_length) - 1);

    // A bare file name would be looked up along the DLL search path (and
    // LoadLibrary wants backslashes): make the path absolute, so the module
    // loaded is the one named, and let its own folder serve its dependencies.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(wide), ec);
    if (ec) {
        absolute = std::filesystem::path(wide);
    }
    absolute.make_preferred();
    HMODULE module = LoadLibraryExW(absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = last_system_error();
    }
    return reinterpret_cast<void*>(module);
}

void* find_symbol(void* handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
}

void close_module(void* handle)
{
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

#else

void* open_module(const std::string& path, std::string& error)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        error = text ? text : "dlopen failed";
    }
    return handle;
}

void* find_symbol(void* handle, const char* name)
{
    dlerror();
    return dlsym(handle, name);
}

void close_module(void* handle)
{
    dlclose(handle);
}

#endif

// POSIX requires a dlsym result to convert to a function pointer, and GetProcAddress returns one
// already; the cast is conditionally supported C++ that every target compiler supports.
template <class F>
F as_function(void* symbol)
{
    return reinterpret_cast<F>(symbol);
}

}  // namespace

PluginModule::PluginModule(PluginModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)), error_(std::move(other.error_)),
      entry_point_(std::exchange(other.entry_point_, nullptr)),
      plugin_data_entry_(std::exchange(other.plugin_data_entry_, nullptr)),
      effect_main_(std::exchange(other.effect_main_, nullptr))
{}

PluginModule& PluginModule::operator=(PluginModule&& other) noexcept
{
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
        entry_point_ = std::exchange(other.entry_point_, nullptr);
        plugin_data_entry_ = std::exchange(other.plugin_data_entry_, nullptr);
        effect_main_ = std::exchange(other.effect_main_, nullptr);
    }
    return *this;
}

PluginModule::~PluginModule()
{
    unload();
}

bool PluginModule::load(const std::string& path)
{
    unload();
    path_ = path;
    error_.clear();

    std::string reason;
    void* handle = open_module(path, reason);
    if (!handle) {
        error_ = "cannot load plug-in module '" + path + "': " + reason;
        return false;
    }

    void* entry = find_symbol(handle, "EntryPointFunc");
    void* plugin_data = find_symbol(handle, "PluginDataEntryFunction");
    if (!entry || !plugin_data) {
        error_ = "plug-in module '" + path + "' does not export";
        if (!entry) {
            error_ += " EntryPointFunc";
        }
        if (!plugin_data) {
            error_ += entry ? " PluginDataEntryFunction" : " nor PluginDataEntryFunction";
        }
        close_module(handle);
        return false;
    }

    handle_ = handle;
    entry_point_ = as_function<ruvivedu_entry_point_func>(entry);
    plugin_data_entry_ = as_function<ruvivedu_plugin_data_entry_func>(plugin_data);
    effect_main_ = as_function<ruvivedu_entry_point_func>(find_symbol(handle, "EffectMain"));
    return true;
}

void PluginModule::unload()
{
    if (handle_) {
        close_module(handle_);
    }
    handle_ = nullptr;
    entry_point_ = nullptr;
    plugin_data_entry_ = nullptr;
    effect_main_ = nullptr;
}

void* PluginModule::symbol(const char* name) const
{
    if (!handle_ || !name) {
        return nullptr;
    }
    return find_symbol(handle_, name);
}

}  // namespace ruvivedu::host
