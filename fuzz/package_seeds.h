// The 3MF seeds of make_seeds, made here: packages for the load and ZIP
// targets, model parts for the model target, and the words of its dictionary.
#pragma once
#include <string>
#include <utility>
#include <vector>

// Pairs of a path below the seed folder ("load/...", "zip/...", "model/...") and the bytes.
std::vector<std::pair<std::string, std::string>> packageSeeds();
std::vector<std::string> modelDictionaryWords();
