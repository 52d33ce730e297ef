#pragma once
// Gives a test its own configuration and home folders, removed afterwards.

#include <string>

class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    const std::string& Root() const { return root_; }
    std::string ConfigHome() const { return root_ + "/config"; }
    std::string SettingsFile() const { return ConfigHome() + "/orvandel/Orvandel.ini"; }

private:
    std::string root_;
    std::string savedHome_;
    std::string savedConfigHome_;
};

// Stores the account the tests' handhelds log in with: viewer / secret.
void StoreTestAccount();

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// How often text stands in the file.
int CountInFile(const std::string& path, const std::string& text);
