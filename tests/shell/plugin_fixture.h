// Loads the built plug-in module once per test binary and hands each test a
// fresh substitute host attached to it.
#pragma once

#include "substitute_host.h"

#include <gtest/gtest.h>

#include <memory>

namespace shell_test {

inline const ruvivedu::host::PluginModule& plugin_module()
{
    static ruvivedu::host::PluginModule module;
    if (!module.loaded()) {
        if (!module.load(RUVIVEDU_PLUGIN_PATH))
            ADD_FAILURE() << module.error();
    }
    return module;
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(plugin_module().loaded());
        host = std::make_unique<ruvivedu::host::SubstituteHost>(plugin_module());
    }

    std::unique_ptr<ruvivedu::host::SubstituteHost> host;
};

}  // namespace shell_test
