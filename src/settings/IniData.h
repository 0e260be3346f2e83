#pragma once
// The settings file ./Tarvelo.ini: one read and one write per setting.
// An accessor lives for one group of reads or writes and caches nothing.

#include "framework/IniFile.h"
#include "settings/PortParam.h"

#include <QString>

namespace tarvelo {

class TIniData {
public:
    TIniData();  // touches no file

    int32_t ReadCardIndex() const;
    void WriteCardIndex(int32_t value);
    int32_t ReadLocalPort() const;
    void WriteLocalPort(int32_t value);
    int32_t ReadMonitorPort() const;
    void WriteMonitorPort(int32_t value);

    // The directory snapshots are stored in, created when missing, always
    // ending in one more '/'. An empty setting means the host's work path
    // followed by "/CapPicture".
    QString ReadPictureDir() const;
    QString ReadPictureDirText() const;
    void WritePictureDir(const QString& text);

    bool ReadSaveToDatabase() const;
    void WriteSaveToDatabase(bool value);

    void ReadPortParam(TPortParam& param) const;
    void WritePortParam(const TPortParam& param);

    static const char* const FileName;

private:
    IniFile file_;
};

// Creates `dir` with every missing parent, outermost first. Trailing
// separators are ignored; a path shorter than three characters, or one that
// is its own parent, is left alone. Failure is not reported: storing a
// snapshot there fails later and says so.
void ForceDirectories(const QString& dir);

}  // namespace tarvelo
