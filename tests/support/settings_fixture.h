// Test fixtures for code that reads the settings table and reports from a child process.
#ifndef UPDATER_TESTS_SUPPORT_SETTINGS_FIXTURE_H
#define UPDATER_TESTS_SUPPORT_SETTINGS_FIXTURE_H

#include <map>
#include <string>

#include "install_env.h"

using kit::SettingLines;

// An install.env of key lines, each "<key>\t<value>", as a game maker writes them.
void WriteSettingsFile(const std::string& path, const SettingLines& settings);

// A child's findings, one "name=value" line each; values must not hold line feeds.
using Report = std::map<std::string, std::string>;
void WriteReport(const std::string& path, const Report& report);
Report ReadReport(const std::string& path);  // throws DriverError when there is none

#endif
