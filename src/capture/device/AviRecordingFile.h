#pragma once
// A recording as an OpenDML AVI file, written by us: Motion-JPEG key frames
// ("00dc") and PCM sound ("01wb"), in RIFF segments of about a gigabyte
// each ("AVI ", then "AVIX"), every segment with its own standard indexes
// ("ix00", "ix01") and the headers with their super indexes ("indx") and
// the whole length ("dmlh"). A recording has no size limit but the disk's,
// and the first segment also carries the old index ("idx1") for readers of
// AVI 1.0. Everything is on the disk once it is closed.

#include "capture/device/RecordingFile.h"

#include <QFile>
#include <array>
#include <vector>

namespace tarvelo {

class AviRecordingFile final : public RecordingFile {
public:
    static constexpr qint64 SegmentBytes = qint64(1) << 30;
    static constexpr int MaxSegments = 256;  // entries each super index holds

    AviRecordingFile(const QString& path, const RecordingFormat& format, qint64 segmentBytes = SegmentBytes);

    bool open(std::string& why);
    bool addFrame(const QByteArray& jpeg, std::string& why) override;
    bool addSound(const QByteArray& samples, std::string& why) override;
    bool close(std::string& why) override;

private:
    struct IndexEntry {
        quint64 dataOffset;  // where the chunk's bytes begin
        quint32 size;
    };
    struct Stream {
        quint32 chunkId;
        std::vector<IndexEntry> segmentEntries;  // this segment's
        quint64 segmentDuration = 0;             // in the stream's ticks
        std::vector<std::array<quint64, 2>> superIndex;  // ix chunk offset, size|duration<<32
        quint64 totalDuration = 0;
        quint32 largestChunk = 0;
        qint64 strhOffset = 0, indxOffset = 0;
    };

    bool addChunk(Stream& stream, const QByteArray& bytes, quint64 duration, std::string& why);
    bool writeHeaders();
    bool startSegment();
    bool finishSegment();
    bool writeStandardIndex(Stream& stream, int number);
    bool writeOldIndex();
    bool patchHeaders();
    bool write(const QByteArray& bytes);
    bool patch(qint64 offset, const QByteArray& bytes);
    bool fail(std::string& why, const std::string& what);

    QFile file_;
    const RecordingFormat format_;
    const qint64 segmentBytes_;
    std::vector<Stream> streams_;
    qint64 riffStart_ = 0, moviStart_ = 0;  // of the segment being written
    int segment_ = 0;
    quint32 framesInFirstSegment_ = 0;
    struct OldEntry {
        quint32 chunkId, offset, size;
    };
    std::vector<OldEntry> oldIndex_;  // the first segment's chunks
    qint64 avihOffset_ = 0, dmlhOffset_ = 0;
    bool failed_ = false;
};

}  // namespace tarvelo
