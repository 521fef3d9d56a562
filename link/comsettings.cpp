// Serial port settings: their text forms, the settings file (section "ComPort"
// of rejestr/ustawienia.ini) and the list of ports present.
#include "link/comport.h"
#include "tables/inifile.h"

#include <QDir>
#include <QSaveFile>
#include <QSerialPortInfo>

#include <algorithm>
#include <array>
#include <string>

namespace qta {

namespace {

constexpr std::array<const char*, 16> kBaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<int, 16> kBaudValues = {0,     110,    300,    600,   1200,  2400,
                                             4800,  9600,   14400,  19200, 38400, 56000,
                                             57600, 115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};

constexpr const char* kSection = "ComPort";

template <std::size_t N> QString textOf(const std::array<const char*, N>& texts, int index) {
    if (index < 0 || index >= static_cast<int>(N))
        return {};
    return QString::fromLatin1(texts[static_cast<std::size_t>(index)]);
}

template <std::size_t N>
int indexOf(const std::array<const char*, N>& texts, const QString& s, int unknown) {
    for (std::size_t i = 0; i < N; ++i) {
        if (s.compare(QLatin1String(texts[i]), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return unknown;
}

std::function<QStringList()>& portListProvider() {
    static std::function<QStringList()> provider;
    return provider;
}

// The program names its files the way it always has ("rejestr\ustawienia.ini",
// "Rejestr\rejestr.dbf"); such a name means the one rejestr folder under the
// working directory. Any other path is used as given.
QString settingsFilePath(const QString& path) {
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.startsWith(QLatin1String("rejestr/"), Qt::CaseInsensitive))
        return rejestrPath(path);
    return path;
}

EComPort storeFailed() {
    return EComPort(CError_StoreFailed, -1,
                    QStringLiteral("COM Port Error: Failed to store settings"));
}

bool isBlank(const QByteArray& line) { return line.trimmed().isEmpty(); }

bool isComment(const QByteArray& line) {
    const QByteArray t = line.trimmed();
    return t.startsWith(';') || t.startsWith('#');
}

// The INI reader keeps a comment only by attaching it to the entry below it, so
// comments after the file's last entry would vanish on rewriting. Returns those
// lines (with the blank lines between them) so they can be put back; empty when
// there are none.
QByteArray trailingComments(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    qsizetype first = lines.size();
    while (first > 0 && (isBlank(lines[first - 1]) || isComment(lines[first - 1])))
        --first;
    qsizetype last = lines.size();
    while (last > first && isBlank(lines[last - 1]))
        --last;
    QByteArray tail;
    bool anyComment = false;
    for (qsizetype i = first; i < last; ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        anyComment = anyComment || isComment(line);
        tail += line + '\n';
    }
    return anyComment ? tail : QByteArray();
}

bool hasEntries(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    return std::any_of(lines.begin(), lines.end(),
                       [](const QByteArray& l) { return !isBlank(l) && !isComment(l); });
}

} // namespace

QString baudRateText(TBaudRate b) { return textOf(kBaudTexts, b); }
QString stopBitsText(TStopBits s) { return textOf(kStopTexts, s); }
QString dataBitsText(TDataBits d) { return textOf(kDataTexts, d); }
QString parityText(TParityBits p) { return textOf(kParityTexts, p); }
QString flowControlText(TFlowControl f) { return textOf(kFlowTexts, f); }

TBaudRate baudRateFromText(const QString& s) {
    return static_cast<TBaudRate>(indexOf(kBaudTexts, s, br9600));
}
TStopBits stopBitsFromText(const QString& s) {
    return static_cast<TStopBits>(indexOf(kStopTexts, s, sbOneStopBit));
}
TDataBits dataBitsFromText(const QString& s) {
    return static_cast<TDataBits>(indexOf(kDataTexts, s, dbEight));
}
TParityBits parityFromText(const QString& s) {
    return static_cast<TParityBits>(indexOf(kParityTexts, s, prNone));
}
TFlowControl flowControlFromText(const QString& s) {
    return static_cast<TFlowControl>(indexOf(kFlowTexts, s, fcCustom));
}

int baudRateValue(TBaudRate b, int custom) {
    if (b == brCustom)
        return custom;
    if (b < 0 || b >= static_cast<int>(kBaudValues.size()))
        return 0;
    return kBaudValues[static_cast<std::size_t>(b)];
}

TFlowControl TComFlowControl::summary() const {
    const bool xonXoff = XonXoffIn && XonXoffOut;
    const bool noXonXoff = !XonXoffIn && !XonXoffOut;
    if (ControlRTS == rtsHandshake && OutCTSFlow && noXonXoff)
        return fcHardware;
    if (ControlRTS == rtsDisable && !OutCTSFlow && xonXoff)
        return fcSoftware;
    if (ControlRTS == rtsDisable && !OutCTSFlow && noXonXoff)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::setSummary(TFlowControl fc) {
    if (fc != fcHardware && fc != fcSoftware && fc != fcNone)
        return; // "Custom" means: leave the fields as they are
    ControlRTS = rtsDisable;
    OutCTSFlow = false;
    XonXoffIn = false;
    XonXoffOut = false;
    if (fc == fcHardware) {
        ControlRTS = rtsHandshake;
        OutCTSFlow = true;
    } else if (fc == fcSoftware) {
        XonXoffIn = true;
        XonXoffOut = true;
    }
}

QString rejestrPath(const QString& fileName) {
    QString name = fileName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(name))
        return QDir::cleanPath(name);
    while (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    if (name.startsWith(QLatin1String("rejestr/"), Qt::CaseInsensitive))
        name.remove(0, 8);
    return QDir::cleanPath(QDir::currentPath() + QLatin1String("/rejestr/") + name);
}

void TComPort::LoadSettings(TStoreType, const QString& path) {
    // Line settings change one by one below; the device gets them once, at the
    // end, instead of after every key.
    ++updating_;
    try {
        // No file, or one that cannot be read: the settings stay as they are.
        CSimpleIniA ini;
        if (readIniFile(settingsFilePath(path), ini).ok()) {
            // A missing key keeps the current value.
            const auto read = [&ini](const char* key, const QString& current) {
                const char* v = ini.GetValue(kSection, key, nullptr);
                return v ? QString::fromUtf8(v) : current;
            };
            // An empty name cannot be opened; keep the port we have.
            const QString port = read("Port", port_);
            if (!port.isEmpty())
                setPort(port);
            BaudRate = baudRateFromText(read("BaudRate", baudRateText(BaudRate)));
            if (BaudRate == brCustom) {
                bool ok = false;
                const int rate = read("CustomBaudRate", QString::number(CustomBaudRate)).toInt(&ok);
                if (ok && rate > 0)
                    CustomBaudRate = rate;
            }
            StopBits = stopBitsFromText(read("StopBits", stopBitsText(StopBits)));
            DataBits = dataBitsFromText(read("DataBits", dataBitsText(DataBits)));
            Parity.Bits = parityFromText(read("Parity", parityText(Parity.Bits)));
            FlowControl.setSummary(
                flowControlFromText(read("FlowControl", flowControlText(FlowControl.summary()))));
        }
    } catch (...) {
        // A settings file that cannot be used must not stop the program from
        // looking for the controller: what was read so far stays set.
    }
    if (--updating_ == 0 && Connected()) {
        try {
            applySettings();
        } catch (...) {
        }
    }
}

QString TComPort::savedPort(const QString& path) {
    CSimpleIniA ini;
    if (!readIniFile(settingsFilePath(path), ini).ok())
        return {};
    return QString::fromUtf8(ini.GetValue(kSection, "Port", "")).trimmed();
}

void TComPort::StoreSettings(TStoreType, const QString& path) {
    const QString fileName = settingsFilePath(path);

    // The rest of the file is kept, so it is read first; a missing one is
    // written anew. One that cannot be read (or holds a zero byte, where the
    // reader would stop and the rewrite cut the file) is left alone.
    CSimpleIniA ini;
    const TIniFile file = readIniFile(fileName, ini);
    if (file.status == TIniFile::Failed)
        throw storeFailed();
    const QByteArray& original = file.text;
    const bool hadSignature = file.signature;

    // A file of comments only would lose all but its first block: keep it
    // verbatim and add the section after it.
    const bool keepWhole = !original.isEmpty() && !hasEntries(original);
    if (keepWhole)
        ini.Reset();
    ini.SetSpaces(false);

    const auto write = [&ini](const char* key, const QString& value) {
        if (ini.SetValue(kSection, key, value.toUtf8().constData()) < 0)
            throw storeFailed();
    };
    write("Port", port_);
    write("BaudRate", baudRateText(BaudRate));
    if (BaudRate == brCustom)
        write("CustomBaudRate", QString::number(CustomBaudRate));
    write("StopBits", stopBitsText(StopBits));
    write("DataBits", dataBitsText(DataBits));
    write("Parity", parityText(Parity.Bits));
    write("FlowControl", flowControlText(FlowControl.summary()));

    std::string saved;
    if (ini.Save(saved, false) < 0)
        throw storeFailed();
    QByteArray text;
    if (hadSignature)
        text += "\xEF\xBB\xBF";
    if (keepWhole) {
        text += original;
        if (!text.endsWith('\n'))
            text += '\n';
        text += '\n';
    }
    text += QByteArray::fromStdString(saved);
    if (!keepWhole)
        text += trailingComments(original);

    // Written to a temporary file and renamed over the old one, so a failure
    // part way leaves the previous settings whole.
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        throw storeFailed();
}

void TComPort::setPortListProvider(std::function<QStringList()> provider) {
    portListProvider() = std::move(provider);
}

void TComPort::EnumComPorts(QStringList& ports) {
    QStringList names;
    try {
        if (const auto& provider = portListProvider()) {
            names = provider();
        } else {
            const auto infos = QSerialPortInfo::availablePorts();
            for (const QSerialPortInfo& info : infos)
                names.append(info.portName());
        }
    } catch (...) {
        // The list is a hint for the port scan; an unreadable one means no ports.
        names.clear();
    }
    // Plain text order ignoring case (COM1, COM10, COM2), not natural order:
    // the scan tries the ports in this order.
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    ports = names;
}

} // namespace qta
