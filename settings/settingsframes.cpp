#include "settings/settingsframes.h"

#include "link/comport.h"
#include "link/frame.h"
#include "settings/entryrule.h"

namespace qta {

namespace {
void put16(QByteArray& b, int v) {
    b.append(char((v >> 8) & 0xFF));
    b.append(char(v & 0xFF));
}
} // namespace

int configModeByte(const TKonf& k) {
    // A program or main line the controller reported outside the lists goes
    // back as it came, but never into the neighbouring bits.
    return (k.Aparat ? 128 : 0) | ((k.Progr & 0x0F) << 3) | (k.Linia_Glowna & 0x07);
}

int configSheddingByte(const TKonf& k) {
    return (k.Linia[1].Zrzut ? 16 : 0) | (k.Linia[2].Zrzut ? 4 : 0) | (k.Linia[3].Zrzut ? 1 : 0);
}

QByteArray configPayload(const TKonf& k) {
    QByteArray p;
    for (int n = 1; n <= 3; ++n) {
        put16(p, k.Linia[size_t(n)].Umin);
        put16(p, k.Linia[size_t(n)].Umax);
        put16(p, k.Linia[size_t(n)].Histereza);
    }
    put16(p, k.Kwal_ON);
    put16(p, k.Kwal_OFF);
    put16(p, k.Przelaczanie);
    put16(p, tenthsOf(k.Uzbrajanie));
    put16(p, tenthsOf(k.Rozbrajanie));
    put16(p, tenthsOf(k.Przerwa));
    p.append(char(configModeByte(k)));
    p.append(char(configSheddingByte(k)));
    return p;
}

QByteArray configFrame(const TKonf& k) { return buildFrame(TxWriteConfig, configPayload(k)); }

int customSettingsByte(const TKonf& k) {
    return (k.Kontrola_On ? 128 : 0) | (k.Buczek_On ? 64 : 0) | (k.Podsw_On ? 32 : 0) |
           (k.Rejestr_On ? 16 : 0);
}

QByteArray customPayload(const TKonf& k) {
    QByteArray p;
    p.append(char(customSettingsByte(k)));
    put16(p, k.Kontrola_Opozn);
    put16(p, k.Buczek_Czas);
    put16(p, k.Podsw_Czas);
    p.append(char(k.Podsw_Jasnosc & 0xFF));
    return p;
}

QByteArray customFrame(const TKonf& k) { return buildFrame(TxWriteCustom, customPayload(k)); }

void transmitFrame(TComPort& port, const QByteArray& frame) {
    for (char c : frame)
        port.TransmitChar(std::uint8_t(c));
}

QStringList thresholdWarnings(const TKonf& k) {
    QStringList out;
    for (int n = 1; n <= 3; ++n) {
        const TLinia& l = k.Linia[size_t(n)];
        if (l.Umin >= l.Umax)
            out << QStringLiteral("Linia N%1: U_Min = %2 V nie jest mniejsze od U_Max = %3 V.")
                       .arg(n)
                       .arg(l.Umin)
                       .arg(l.Umax);
        else if (l.Umin + l.Histereza >= l.Umax - l.Histereza)
            out << QStringLiteral("Linia N%1: histereza %2 V nie zostawia pasma między progami "
                                  "(U_Min + U_Hist = %3 V, U_Max − U_Hist = %4 V).")
                       .arg(n)
                       .arg(l.Histereza)
                       .arg(l.Umin + l.Histereza)
                       .arg(l.Umax - l.Histereza);
    }
    return out;
}

} // namespace qta
