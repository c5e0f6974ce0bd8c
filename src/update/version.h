// Recording version.txt.
#pragma once

#include <string>

// Stores `bytes` as version.txt, exactly, through a staging file moved over the old one.
// True when version.txt now holds them; on failure the previous version.txt stays.
bool CommitVersionFile(const std::string& bytes);
