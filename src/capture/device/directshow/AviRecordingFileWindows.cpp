// Recordings written through AVIFile: ready-made JPEGs stored as "MJPG"
// key frames, so no codec of the machine's is asked for, and the sound as
// PCM in a stream of its own, interleaved by AVIFile; the index is
// written when the stream and file are released, and the file is flushed
// to the disk after that.

#include "capture/device/RecordingFile.h"

#include "framework/WindowsError.h"
#include "media/ComApartment.h"

#include <QDir>

#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>

namespace tarvelo {
namespace {

std::string aviErrorText(const char* what, HRESULT result)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (AVIFile error 0x%08lX)", what, static_cast<unsigned long>(result));
    return text;
}

class AviRecordingFile final : public RecordingFile {
public:
    AviRecordingFile(std::wstring path, const RecordingFormat& format) : path_(std::move(path)), format_(format)
    {
        AVIFileInit();
    }
    ~AviRecordingFile() override
    {
        release();
        AVIFileExit();
    }

    bool open(std::string& why);
    bool openSound(std::string& why);
    bool addFrame(const QByteArray& jpeg, std::string& why) override;
    bool addSound(const QByteArray& samples, std::string& why) override;
    bool close(std::string& why) override;

private:
    void release();

    ComApartment com_{COINIT_MULTITHREADED};  // AVIFile's objects belong to the thread that made them
    std::wstring path_;
    RecordingFormat format_;
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM sound_ = nullptr;
    LONG written_ = 0;
    LONG samplesWritten_ = 0;
};

bool AviRecordingFile::open(std::string& why)
{
    DeleteFileW(path_.c_str());  // AVIFile would otherwise keep what an old file had past our end
    HRESULT result = AVIFileOpenW(&file_, path_.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_WRITE, nullptr);
    if (FAILED(result)) {
        file_ = nullptr;
        why = aviErrorText("AVIFileOpen", result);
        return false;
    }
    const LONG width = format_.frameSize.width(), height = format_.frameSize.height();
    AVISTREAMINFOW info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    info.dwScale = format_.microSecPerFrame;
    info.dwRate = 1000000;
    info.dwSuggestedBufferSize = DWORD(width * height * 3);
    SetRect(&info.rcFrame, 0, 0, width, height);
    if (FAILED(result = AVIFileCreateStreamW(file_, &stream_, &info))) {
        stream_ = nullptr;
        why = aviErrorText("AVIFileCreateStream", result);
        return false;
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    header.biSizeImage = DWORD(width * height * 3);
    if (FAILED(result = AVIStreamSetFormat(stream_, 0, &header, sizeof header))) {
        why = aviErrorText("AVIStreamSetFormat", result);
        return false;
    }
    return !format_.withSound || openSound(why);
}

bool AviRecordingFile::openSound(std::string& why)
{
    const tarvelo::WAVEFORMATEX& f = format_.sound;
    AVISTREAMINFOW info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = f.nBlockAlign;
    info.dwRate = f.nAvgBytesPerSec;
    info.dwSampleSize = f.nBlockAlign;
    info.dwQuality = DWORD(-1);
    HRESULT result = AVIFileCreateStreamW(file_, &sound_, &info);
    if (FAILED(result)) {
        sound_ = nullptr;
        why = aviErrorText("AVIFileCreateStream (sound)", result);
        return false;
    }
    ::WAVEFORMATEX wave{f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec, f.nBlockAlign, f.wBitsPerSample, 0};
    if (FAILED(result = AVIStreamSetFormat(sound_, 0, &wave, sizeof wave))) {
        why = aviErrorText("AVIStreamSetFormat (sound)", result);
        return false;
    }
    return true;
}

bool AviRecordingFile::addSound(const QByteArray& samples, std::string& why)
{
    if (!sound_)
        return true;
    const LONG count = LONG(samples.size() / std::max<uint16_t>(format_.sound.nBlockAlign, 1));
    HRESULT result = AVIStreamWrite(sound_, samplesWritten_, count, const_cast<char*>(samples.constData()),
                                    LONG(samples.size()), AVIIF_KEYFRAME, nullptr, nullptr);
    if (FAILED(result)) {
        why = aviErrorText("AVIStreamWrite (sound)", result);
        return false;
    }
    samplesWritten_ += count;
    return true;
}

bool AviRecordingFile::addFrame(const QByteArray& jpeg, std::string& why)
{
    HRESULT result = AVIStreamWrite(stream_, written_, 1, const_cast<char*>(jpeg.constData()), LONG(jpeg.size()),
                                    AVIIF_KEYFRAME, nullptr, nullptr);
    if (FAILED(result)) {
        why = aviErrorText("AVIStreamWrite", result);
        return false;
    }
    ++written_;
    return true;
}

void AviRecordingFile::release()
{
    if (sound_)
        AVIStreamRelease(sound_);
    if (stream_)
        AVIStreamRelease(stream_);
    if (file_)
        AVIFileRelease(file_);
    stream_ = sound_ = nullptr;
    file_ = nullptr;
}

// The index and headers are written as the file is let go; only then is
// everything in it, and it goes to the disk before the recording is done.
bool AviRecordingFile::close(std::string& why)
{
    release();
    HANDLE handle = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    bool flushed = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    if (!flushed)
        why = "cannot flush the recording to the disk: " + windowsErrorText(GetLastError());
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return flushed;
}

}  // namespace

std::unique_ptr<RecordingFile> OpenAviRecording(const QString& path, const RecordingFormat& format, std::string& why)
{
    auto file = std::make_unique<AviRecordingFile>(QDir::toNativeSeparators(path).toStdWString(), format);
    if (!file->open(why))
        return nullptr;
    return file;
}

}  // namespace tarvelo
