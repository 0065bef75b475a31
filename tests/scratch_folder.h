// A fixture for the Windows tests that work in a folder of their own: made
// fresh for every test, removed afterwards, the current directory restored.
#pragma once

#include "windriver.h"

#include <gtest/gtest.h>

#include <string>

struct ScratchFolder : ::testing::Test {
    char folder[MAX_PATH] = {};
    char startFolder[MAX_PATH] = {};

    void SetUp() override
    {
        GetCurrentDirectoryA(sizeof startFolder, startFolder);
        ASSERT_TRUE(drv_makeFolder(folder, sizeof folder));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startFolder);
        drv_removeFolder(folder);
    }
    std::string path(const char* name)
    {
        return std::string(folder) + "\\" + name;
    }
    void put(const char* name, const std::string& data)
    {
        ASSERT_TRUE(drv_writeFile(folder, name, data.data(), (DWORD)data.size())) << name;
    }
    // The file's text, "<missing>" if it cannot be read.
    std::string contents(const char* name)
    {
        static char data[65536];
        return drv_readFile(folder, name, data, sizeof data) < 0 ? "<missing>" : data;
    }
};
