#include "sound/AudioModule.h"

#include "framework/ProcessEnd.h"

#include <QFileInfo>
#include <array>
#include <dlfcn.h>
#include <optional>
#include <unistd.h>

// Where an installed program keeps the module, relative to the executable's folder.
#ifndef DROVANEL_AUDIO_FROM_BIN
#define DROVANEL_AUDIO_FROM_BIN "../lib/drovanel"
#endif

namespace sound {

namespace {

constexpr const char *kModuleName = "libdrovanel-audio.so";

std::string &ModulePath()
{
    static std::string path;
    return path;
}

std::optional<AudioModule> Load()
{
    const std::string &chosen = ModulePath();
    const std::string path = chosen.empty() ? DefaultAudioModulePath() : chosen;
    // Never unloaded: the sound library keeps threads and callbacks of its own once it has
    // connected.
    void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle)
        return std::nullopt;
    auto *version = reinterpret_cast<DrovanelAudioInterfaceFn *>(::dlsym(handle, "drovanel_audio_interface"));
    auto *prepare = reinterpret_cast<DrovanelAudioPrepareFn *>(::dlsym(handle, "drovanel_audio_prepare"));
    auto *play = reinterpret_cast<DrovanelAudioPlayFn *>(::dlsym(handle, "drovanel_audio_play"));
    if (!version || !prepare || !play || version() != kAudioInterfaceVersion)
        return std::nullopt;
    // Connects to the sound server. Qt Multimedia keeps that connection in a global of its library
    // and exit() tears it down without the lock of the connection's own loop, while the loop's
    // thread still runs: a message from the server in that moment (a stream's last replies, a sink
    // that changes) crashes the process, about one end in twelve right after a melody. From here on
    // exit() ends the process before that teardown.
    prepare();
    fw::EndAtExitBeforeTeardown();
    return AudioModule{play};
}

}  // namespace

AudioStreamResult AudioModule::Play(const AudioStream &stream) const
{
    const auto result = static_cast<AudioStreamResult>(play(&stream));
    // Qt Multimedia's output makes a second connection of the same kind when it first starts a
    // stream: the end goes ahead of that one's teardown too.
    fw::EndAtExitBeforeTeardown();
    return result;
}

const AudioModule *LoadAudioModule()
{
    static const std::optional<AudioModule> module = Load();
    return module ? &*module : nullptr;
}

std::string DefaultAudioModulePath()
{
    std::array<char, 4096> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    const std::string dir = n > 0 ? QFileInfo(QString::fromLocal8Bit(exe.data(), n)).absolutePath().toStdString() : ".";
    const std::string beside = dir + "/" + kModuleName;
    const std::string installed = dir + "/" DROVANEL_AUDIO_FROM_BIN "/" + kModuleName;
    return ::access(beside.c_str(), F_OK) != 0 && ::access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

void SetAudioModulePath(std::string path)
{
    ModulePath() = std::move(path);
}

}  // namespace sound
