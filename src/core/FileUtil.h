#pragma once
// UTF-8 text paths and whole-file helpers over std::filesystem (wide paths on Windows).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace hb {

// A filesystem path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
// Joins a folder and a name with exactly one separator between them.
std::string JoinPath(const std::string& folder, const std::string& name);
// The whole file's bytes; nullopt when it cannot be read. maxBytes caps what is accepted.
std::optional<std::string> ReadFileBytes(const std::string& path, uint64_t maxBytes = UINT64_MAX);
// Creates or replaces the file with bytes; false on any failure (never throws).
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Deletes a file or a whole folder; errors are ignored.
void RemoveQuietly(const std::string& path);

} // namespace hb
