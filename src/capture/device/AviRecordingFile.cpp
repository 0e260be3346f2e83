#include "capture/device/AviRecordingFile.h"

#include "framework/FileBeside.h"

#include <QtEndian>
#include <algorithm>

namespace tarvelo {
namespace {

constexpr quint32 AvifHasIndex = 0x10, AvifIsInterleaved = 0x100;
constexpr quint32 AviifKeyframe = 0x10;
constexpr quint8 IndexOfIndexes = 0x00, IndexOfChunks = 0x01;
constexpr int StreamHeaderBytes = 56, MainHeaderBytes = 56, DmlhBytes = 248;
constexpr int SuperIndexBytes = 24 + 16 * AviRecordingFile::MaxSegments;

constexpr quint32 fourcc(const char (&code)[5])
{
    return quint32(quint8(code[0])) | quint32(quint8(code[1])) << 8 | quint32(quint8(code[2])) << 16 |
           quint32(quint8(code[3])) << 24;
}

// Little-endian fields, appended in order.
class Fields {
public:
    Fields& u8(quint8 v) { return raw(&v, 1); }
    Fields& u16(quint16 v) { return little(v); }
    Fields& u32(quint32 v) { return little(v); }
    Fields& u64(quint64 v) { return little(v); }
    Fields& tag(const char (&code)[5]) { return u32(fourcc(code)); }
    Fields& zeros(int n)
    {
        bytes.append(n, '\0');
        return *this;
    }
    QByteArray bytes;

private:
    template <typename T>
    Fields& little(T v)
    {
        T le = qToLittleEndian(v);
        return raw(&le, sizeof le);
    }
    Fields& raw(const void* p, qsizetype n)
    {
        bytes.append(static_cast<const char*>(p), n);
        return *this;
    }
};

QByteArray chunk(quint32 id, const QByteArray& data)
{
    Fields f;
    f.u32(id).u32(quint32(data.size()));
    f.bytes += data;
    if (data.size() % 2)
        f.bytes += '\0';
    return f.bytes;
}

}  // namespace

AviRecordingFile::AviRecordingFile(const QString& path, const RecordingFormat& format, qint64 segmentBytes)
    : file_(path), format_(format), segmentBytes_(segmentBytes)
{
    streams_.push_back({fourcc("00dc"), {}, 0, {}, 0, 0, 0, 0});
    if (format_.withSound)
        streams_.push_back({fourcc("01wb"), {}, 0, {}, 0, 0, 0, 0});
}

bool AviRecordingFile::fail(std::string& why, const std::string& what)
{
    failed_ = true;
    why = what + ": " + file_.errorString().toStdString();
    return false;
}

bool AviRecordingFile::write(const QByteArray& bytes)
{
    return file_.write(bytes) == bytes.size();
}

bool AviRecordingFile::patch(qint64 offset, const QByteArray& bytes)
{
    qint64 end = file_.pos();
    return file_.seek(offset) && write(bytes) && file_.seek(end);
}

bool AviRecordingFile::open(std::string& why)
{
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(why, "cannot make the file");
    if (!writeHeaders() || !startSegment())
        return fail(why, "cannot write the file's headers");
    return true;
}

// The headers as they stand at the start; lengths, sizes and indexes are
// filled in when the file is closed.
bool AviRecordingFile::writeHeaders()
{
    const quint16 width = quint16(format_.frameSize.width()), height = quint16(format_.frameSize.height());
    Fields head;
    head.tag("RIFF").u32(0).tag("AVI ").tag("LIST").u32(0).tag("hdrl");
    avihOffset_ = head.bytes.size();
    head.tag("avih").u32(MainHeaderBytes).zeros(MainHeaderBytes);
    for (size_t i = 0; i < streams_.size(); ++i) {
        const bool video = i == 0;
        Fields format;
        if (video)
            format.u32(40).u32(width).u32(height).u16(1).u16(24).tag("MJPG").u32(quint32(width) * height * 3).zeros(16);
        else
            format.u16(format_.sound.wFormatTag).u16(format_.sound.nChannels).u32(format_.sound.nSamplesPerSec)
                .u32(format_.sound.nAvgBytesPerSec).u16(format_.sound.nBlockAlign).u16(format_.sound.wBitsPerSample)
                .u16(0);
        const int listBytes = 4 + 8 + StreamHeaderBytes + 8 + int(format.bytes.size()) + 8 + SuperIndexBytes;
        head.tag("LIST").u32(quint32(listBytes)).tag("strl");
        streams_[i].strhOffset = head.bytes.size();
        head.tag("strh").u32(StreamHeaderBytes).zeros(StreamHeaderBytes);
        head.bytes += chunk(fourcc("strf"), format.bytes);
        streams_[i].indxOffset = head.bytes.size();
        head.tag("indx").u32(SuperIndexBytes).zeros(SuperIndexBytes);
    }
    head.tag("LIST").u32(4 + 8 + DmlhBytes).tag("odml");
    dmlhOffset_ = head.bytes.size();
    head.tag("dmlh").u32(DmlhBytes).zeros(DmlhBytes);
    qToLittleEndian(quint32(head.bytes.size() - 20), head.bytes.data() + 16);  // hdrl's size
    return write(head.bytes);
}

bool AviRecordingFile::startSegment()
{
    if (segment_ > 0) {
        riffStart_ = file_.pos();
        if (!write(Fields().tag("RIFF").u32(0).tag("AVIX").bytes))
            return false;
    }
    moviStart_ = file_.pos();
    return write(Fields().tag("LIST").u32(0).tag("movi").bytes);
}

bool AviRecordingFile::addFrame(const QByteArray& jpeg, std::string& why)
{
    return addChunk(streams_[0], jpeg, 1, why);
}

bool AviRecordingFile::addSound(const QByteArray& samples, std::string& why)
{
    if (streams_.size() < 2 || samples.isEmpty())
        return true;
    return addChunk(streams_[1], samples, quint64(samples.size()) / std::max<quint16>(format_.sound.nBlockAlign, 1),
                    why);
}

// A chunk that would take the segment past its size goes into the next.
bool AviRecordingFile::addChunk(Stream& stream, const QByteArray& bytes, quint64 duration, std::string& why)
{
    if (failed_)
        return why = "the file could not be written before", false;
    const bool segmentHasChunks = file_.pos() - moviStart_ > 12;
    if (segmentHasChunks && file_.pos() - riffStart_ + 8 + bytes.size() > segmentBytes_) {
        if (segment_ + 1 >= MaxSegments) {
            failed_ = true;
            return why = "the recording has reached the largest size an AVI index can hold", false;
        }
        if (!finishSegment() || (++segment_, !startSegment()))
            return fail(why, "cannot begin the next part of the file");
    }
    const qint64 at = file_.pos();
    if (!write(chunk(stream.chunkId, bytes)))
        return fail(why, "cannot write to the file");
    stream.segmentEntries.push_back({quint64(at + 8), quint32(bytes.size())});
    stream.segmentDuration += duration;
    stream.totalDuration += duration;
    stream.largestChunk = std::max(stream.largestChunk, quint32(bytes.size()));
    if (segment_ == 0) {
        oldIndex_.push_back({stream.chunkId, quint32(at - (moviStart_ + 8)), quint32(bytes.size())});
        if (&stream == &streams_[0])
            ++framesInFirstSegment_;
    }
    return true;
}

// Each stream's standard index ends the segment's "movi" list; the first
// segment then has the old index, and the segment's sizes are set.
bool AviRecordingFile::finishSegment()
{
    for (size_t i = 0; i < streams_.size(); ++i)
        if (!writeStandardIndex(streams_[i], int(i)))
            return false;
    const qint64 moviEnd = file_.pos();
    if (!patch(moviStart_ + 4, Fields().u32(quint32(moviEnd - moviStart_ - 8)).bytes))
        return false;
    if (segment_ == 0 && !writeOldIndex())
        return false;
    return patch(riffStart_ + 4, Fields().u32(quint32(file_.pos() - riffStart_ - 8)).bytes);
}

bool AviRecordingFile::writeStandardIndex(Stream& stream, int number)
{
    if (stream.segmentEntries.empty())
        return true;
    const quint64 base = quint64(riffStart_);
    Fields index;
    index.u16(2).u8(0).u8(IndexOfChunks).u32(quint32(stream.segmentEntries.size())).u32(stream.chunkId).u64(base).u32(0);
    for (const IndexEntry& e : stream.segmentEntries)
        index.u32(quint32(e.dataOffset - base)).u32(e.size);  // bit 31 clear: every chunk is a key frame
    const char name[5] = {'i', 'x', '0', char('0' + number), 0};
    const quint32 id = fourcc(name);
    const qint64 at = file_.pos();
    QByteArray bytes = chunk(id, index.bytes);
    if (!write(bytes))
        return false;
    stream.superIndex.push_back({quint64(at), quint64(bytes.size()) | stream.segmentDuration << 32});
    stream.segmentEntries.clear();
    stream.segmentDuration = 0;
    return true;
}

bool AviRecordingFile::writeOldIndex()
{
    Fields index;
    for (const OldEntry& e : oldIndex_)
        index.u32(e.chunkId).u32(AviifKeyframe).u32(e.offset).u32(e.size);
    oldIndex_.clear();
    return write(chunk(fourcc("idx1"), index.bytes));
}

bool AviRecordingFile::patchHeaders()
{
    const Stream& video = streams_[0];
    const quint32 period = std::max<quint32>(format_.microSecPerFrame, 1);
    const quint16 width = quint16(format_.frameSize.width()), height = quint16(format_.frameSize.height());
    quint32 largest = 0;
    for (const Stream& s : streams_)
        largest = std::max(largest, s.largestChunk);
    const quint64 bytesPerSecond = quint64(video.largestChunk) * 1000000 / period +
                                   (streams_.size() > 1 ? format_.sound.nAvgBytesPerSec : 0);
    Fields avih;
    avih.u32(period).u32(quint32(std::min<quint64>(bytesPerSecond, 0xFFFFFFFF))).u32(0)
        .u32(AvifHasIndex | AvifIsInterleaved).u32(framesInFirstSegment_).u32(0).u32(quint32(streams_.size()))
        .u32(largest + 8).u32(width).u32(height).zeros(16);
    if (!patch(avihOffset_ + 8, avih.bytes))
        return false;
    for (size_t i = 0; i < streams_.size(); ++i) {
        const Stream& s = streams_[i];
        const bool isVideo = i == 0;
        Fields strh;
        if (isVideo)
            strh.tag("vids").tag("MJPG").u32(0).u16(0).u16(0).u32(0).u32(period).u32(1000000);
        else
            strh.tag("auds").u32(0).u32(0).u16(0).u16(0).u32(0).u32(format_.sound.nBlockAlign)
                .u32(format_.sound.nAvgBytesPerSec);
        strh.u32(0).u32(quint32(std::min<quint64>(s.totalDuration, 0xFFFFFFFF))).u32(s.largestChunk).u32(0xFFFFFFFF)
            .u32(isVideo ? 0 : format_.sound.nBlockAlign);
        strh.u16(0).u16(0).u16(isVideo ? width : 0).u16(isVideo ? height : 0);
        Fields indx;
        indx.u16(4).u8(0).u8(IndexOfIndexes).u32(quint32(s.superIndex.size())).u32(s.chunkId).zeros(12);
        for (const auto& entry : s.superIndex)
            indx.u64(entry[0]).u32(quint32(entry[1])).u32(quint32(entry[1] >> 32));
        if (!patch(s.strhOffset + 8, strh.bytes) || !patch(s.indxOffset + 8, indx.bytes))
            return false;
    }
    return patch(dmlhOffset_ + 8, Fields().u32(quint32(std::min<quint64>(video.totalDuration, 0xFFFFFFFF))).bytes);
}

bool AviRecordingFile::close(std::string& why)
{
    if (!file_.isOpen())
        return why = "the file is not open", false;
    bool written = !failed_ && finishSegment() && patchHeaders() && file_.flush();
    if (!written) {
        fail(why, "cannot finish the file");
        file_.close();
        return false;
    }
    bool onDisk = FlushToDisk(file_, why);
    file_.close();
    return onDisk;
}

std::unique_ptr<RecordingFile> OpenAviRecording(const QString& path, const RecordingFormat& format, std::string& why)
{
    auto file = std::make_unique<AviRecordingFile>(path, format);
    if (!file->open(why))
        return nullptr;
    return file;
}

}  // namespace tarvelo
