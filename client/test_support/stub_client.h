// Test helpers for the client's tests that run under Wine against the local service
// stand-in: raw HTTP to it on loopback, its fault switch, paths and files.
#pragma once

#include <string>

namespace testing_support {

// The stand-in's list port.
const int kStubListPort = 8080;

// One HTTP/1.0 exchange with 127.0.0.1; the status code (0 when no answer) and the body.
int HttpRequest(int port, const std::string& method, const std::string& target,
                const std::string& body, std::string* responseBody);

// POST /_control path=...&mode=... on the list port; true when the stand-in accepted it.
bool SetStubMode(const std::string& path, const std::string& mode);

// A Unix path from the build (environment, CMake) as Wine's drive Z: sees it.
std::string WinePath(const std::string& unixPath);
std::string EnvPath(const char* name);  // WinePath of an environment variable, "" if unset

// A new empty directory under the temporary directory.
std::string MakeTempDir(const char* tag);

bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace testing_support
