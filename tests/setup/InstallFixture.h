// A source folder with a script and files, an installation folder, menu folders and a key
// store, all inside one temporary folder.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "setup/Installer.h"
#include "setup/Script.h"
#include "tests/setup/FakeView.h"
#include "tests/support/TempDir.h"

namespace ombrix::testing {

class InstallFixture : public ::testing::Test {
 protected:
  InstallFixture() : installer(script, view) {
    std::filesystem::create_directories(tmp.File("src"));
    script.AppName = "App";
    script.Company = "Acme";
    script.Directory = tmp.File("inst");
    script.Exename = "app";
    script.Files = "data.bin";
    script.ShortCuts = "app \"App Main\"";
    script.RegisterUninstall = true;
    Source("app", "#!/bin/sh\nexit 0\n");
    Source("data.bin", std::string("\x00\x01\x02 data", 8));
    Source("setup", "the installer program");
    Source("setup.inf", "[Settings]\nName=App\n");
    installer.SourceDir = tmp.File("src") + "/";
    installer.ExeFileName = "setup";
    installer.MachineKeys = tmp.File("keys");
    installer.ShellFolder = [this](int kind) {
      return kind == 0 ? tmp.File("menu") : kind == 1 ? tmp.File("common") : tmp.File("start");
    };
  }

  void Source(const std::string& name, const std::string& content) {
    tmp.Write("src/" + name, content);
  }
  std::string Installed(const std::string& name) const { return tmp.File("inst/" + name); }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(tmp.File(relative));
  }
  std::string Dir() const { return tmp.File("inst") + "/"; }

  TempDir tmp;
  setup::TScript script;
  FakeView view;
  setup::TInstaller installer;
};

}  // namespace ombrix::testing
