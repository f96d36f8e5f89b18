#pragma once
// Helpers shared by the tests: temporary directories, generated pictures, the fixture models.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "orvix/DiagnosisState.h"
#include "orvix/Environment.h"

namespace orvix::test {

inline std::filesystem::path fixtures() { return ORVIX_TEST_FIXTURES; }
inline std::filesystem::path fixtureModels() { return fixtures() / "models"; }

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvix-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A BGR picture of one colour.
inline cv::Mat solid(int width, int height, cv::Scalar bgr) { return cv::Mat(height, width, CV_8UC3, bgr); }

inline std::vector<std::uint8_t> encode(const std::string& ext, const cv::Mat& pixels,
                                        const std::vector<int>& params = {}) {
    std::vector<std::uint8_t> out;
    if (!cv::imencode(ext, pixels, out, params)) throw std::runtime_error("cannot encode " + ext);
    return out;
}

inline std::filesystem::path writePicture(const std::filesystem::path& path, const cv::Mat& pixels) {
    if (!cv::imwrite(path.string(), pixels)) throw std::runtime_error("cannot write " + path.string());
    return path;
}

// A record over the fixture models (bright = NORMAL, dark = PNEUMONIA; red = not an X-ray).
inline DiagnosisState fixtureState() {
    auto disease = SickClassifier1::create(fixtureModels() / "SickClassifier1.mlmodelc");
    auto gate = XRayClassifier1::create(fixtureModels() / "XRayClassifier1.mlmodelc");
    if (!disease || !gate) throw std::runtime_error("fixture models do not load");
    return DiagnosisState(disease.value(), gate.value());
}

// An environment holding exactly these variables.
inline EnvironmentLookup environment(std::map<std::string, std::string> variables) {
    return [variables = std::move(variables)](const std::string& name) -> std::optional<std::string> {
        const auto it = variables.find(name);
        if (it == variables.end()) return std::nullopt;
        return it->second;
    };
}

// Sets an environment variable of the process for the life of the object (for code under
// test that reads the process's environment itself: the window, the batch tool).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A temporary HOME with XDG_CONFIG_HOME unset, for the life of the object: what the window writes
// lands under it, and no configuration of the user running the tests is read.
class FreshHome {
public:
    FreshHome() : home_("HOME", dir_.path().string()), config_("XDG_CONFIG_HOME", std::nullopt) {}
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedEnv home_, config_;
};

}  // namespace orvix::test
