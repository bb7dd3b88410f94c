// Lint's rules in two passes: each line as the readers take it, then what the lines add up to.
#ifndef MKUPDATE_LINT_RULES_H
#define MKUPDATE_LINT_RULES_H

#include <map>
#include <string>
#include <vector>

#include "lint/lint.h"

// The findings of one file, handed out in the order of its lines.
class Findings {
public:
    explicit Findings(std::string file) : file_(std::move(file)) {}

    void Warn(int line, const std::string& message) { findings_.push_back({file_, line, false, message}); }
    void Fail(int line, const std::string& message) { findings_.push_back({file_, line, true, message}); }
    // A finding about another file of the update (the title picture, the readme); line 0 when
    // it concerns the whole file.
    void About(const std::string& file, int line, bool error, const std::string& message)
    {
        findings_.push_back({file, line, error, message});
    }
    // Sorted by line; findings of one line stay in the order they were made.
    std::vector<LintFinding> Take();

private:
    std::string file_;
    std::vector<LintFinding> findings_;
};

struct SettingLine {
    std::string value;  // as written, before "|" becomes a space
    int line;
};

struct EntryLine {
    int section;
    std::string text;
    int line;
};

// What the first pass gathered for the second: the key lines and section entries the readers
// take, where each section starts, and the update's files.
struct LintedFile {
    std::string path;
    std::map<std::string, SettingLine> settings;  // the first of each key outside the sections
    std::vector<EntryLine> entries;                // of the sections the updater reads
    std::map<int, int> sectionLines;               // the line of each section's last header
    std::vector<std::string> files;                // relative, backslashes, code page 932

    const SettingLine* Find(const std::string& key) const;
    // The value as written, or the fallback when the key is not given.
    std::string Setting(const std::string& key, const std::string& fallback) const;
    int LineOf(const std::string& key) const;  // 0 when the key is not given
    // Given, with a value that does not start with "-" (which the updater takes as "none").
    bool IsUsed(const std::string& key) const;
    bool HasEntries(int section) const;
};

// The second pass (lint_file_rules.cpp). CheckSettingsTogether reads the version range and the
// readme's name through the updater's accessors: the settings table must hold the file.
void CheckEntry(const EntryLine& entry, const LintedFile& file, const LintOptions& options, Findings& findings);
void CheckSettingsTogether(const LintedFile& file, Findings& findings);

#endif
