// Loading a plug-in module by path and finding its entry points, as the host does.
#pragma once

#include "host_api.h"

#include <string>

namespace ruvivedu::host {

/// A loaded plug-in module (dlopen, or LoadLibraryW on Windows). Move-only; unloads on destruction.
class PluginModule {
public:
    PluginModule() = default;
    PluginModule(PluginModule&& other) noexcept;
    PluginModule& operator=(PluginModule&& other) noexcept;
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;
    ~PluginModule();

    /// Loads the module at `path` (UTF-8) and resolves `EntryPointFunc` and `PluginDataEntryFunction`.
    /// Returns false, with error() saying what failed and where, when the module cannot be loaded or either
    /// entry point is missing; a module that loaded but lacks an entry point is unloaded again.
    /// Any previously loaded module is unloaded first.
    bool load(const std::string& path);

    /// Unloads the module (the entry points become null).
    void unload();

    bool loaded() const { return handle_ != nullptr; }

    /// The text of the last failure, empty after a successful load.
    const std::string& error() const { return error_; }

    /// The path given to the last load().
    const std::string& path() const { return path_; }

    ruvivedu_entry_point_func entry_point() const { return entry_point_; }
    ruvivedu_plugin_data_entry_func plugin_data_entry() const { return plugin_data_entry_; }

    /// True when the module also exports `EffectMain` (the entry name given at registration).
    bool exports_effect_main() const { return effect_main_ != nullptr; }
    ruvivedu_entry_point_func effect_main() const { return effect_main_; }

    /// Address of any exported symbol, or null.
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
    ruvivedu_entry_point_func entry_point_ = nullptr;
    ruvivedu_plugin_data_entry_func plugin_data_entry_ = nullptr;
    ruvivedu_entry_point_func effect_main_ = nullptr;
};

}  // namespace ruvivedu::host
