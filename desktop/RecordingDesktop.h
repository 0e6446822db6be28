// A desktop for tests: it records every dialog and every shell call, serves the
// environment the test sets, and starts nothing.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "desktop/Desktop.h"

namespace vto {

class RecordingDesktop : public Desktop {
 public:
  struct Dialog {
    DialogKind kind;
    std::string caption;
    std::string text;
  };
  struct ShellCall {
    std::string file;
    std::string parameters;
    bool program = false;  // asked for as a program (StartProgram)
  };

  void ShowDialog(DialogKind kind, const std::string& caption, const std::string& text) override {
    dialogs.push_back({kind, caption, text});
  }
  std::string GetEnvironmentVariable(const std::string& name) override {
    auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
  }
  int ShellExecute(const std::string& file, const std::string& parameters) override {
    shell_calls.push_back({file, parameters, false});
    return shell_result;
  }
  int StartProgram(const std::string& path, const std::string& parameters) override {
    shell_calls.push_back({path, parameters, true});
    return shell_result;
  }

  std::map<std::string, std::string> environment;
  int shell_result = 42;  // what ShellExecute answers
  std::vector<Dialog> dialogs;
  std::vector<ShellCall> shell_calls;
};

}  // namespace vto
