// The controller as the program last saw it: configuration, live lines, reply flags.
// Plain data, zero at start; written by the reply handler and the connection cycle,
// read by every window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace qta {

// Thresholds of one supply line (inside TKonf).
struct TLinia {
    bool Podlacz = false; // carried, never filled
    bool Zrzut = false;   // load shedding set for this line
    int Umin = 0;
    int Umax = 0;
    int Histereza = 0;
};

// Configuration and customisation as last read from the controller.
struct TKonf {
    // Index 1..3 as the controller numbers its lines; [0] is unused.
    std::array<TLinia, 4> Linia{};
    int Kwal_ON = 0;
    int Kwal_OFF = 0;
    int Czas_Zrzutu = 0;
    int Przelaczanie = 0;
    double Uzbrajanie = 0.0;  // seconds (tenths on the wire)
    double Rozbrajanie = 0.0; // seconds
    double Przerwa = 0.0;     // seconds
    bool Aparat = false;      // false: contactors, true: switch-disconnectors
    int Progr = 0;            // configured operating program 0..15
    int Linia_Glowna = 0;     // priority line 0..7
    int Awaria = 0;           // fault bits of the last status reply
    bool Podsw_On = false;
    int Podsw_Czas = 0;
    int Podsw_Jasnosc = 0;
    bool Kontrola_On = false;
    int Kontrola_Opozn = 0;
    bool Sygnalizator_On = false;
    int Sygnalizator_Opozn = 0;
    bool PIN_On = false;
    int PIN_Numer = 0;
    bool Buczek_On = false;
    int Buczek_Czas = 0;
    bool Rejestr_On = false;
    bool Pozar_On = false;
    QString Id;               // six characters of the identifier reply
    int Nr_Rekordu = 0;       // record number of the last event record decoded
    int QTA_Last_Rekord = 0;  // newest record index in the controller
    int Baza_Last_Rekord = 0; // newest record index held locally
    bool Pusty_Rekord = false;
};

// Live state of one supply line.
struct TLinia1 {
    std::array<int, 4> U{};         // [1..3] phase voltages, volts
    std::uint8_t Status = 0;        // two-bit qualification state
    std::array<int, 4> Error_Min{}; // [1..3] -1 set, 0 clear
    std::array<int, 4> Error_Max{}; // [1..3]
};

struct TFlaga_Kom {
    bool Id = false;
    bool Konfig = false;
    bool Ustawienia = false;
    bool OK = false;
};

// Operating programs (Aktywny_Program, Konfig.Progr).
enum Program : int {
    ProgNone = 0,
    ProgN1N2N3 = 1,
    ProgN1N2G = 2,
    ProgN1N2 = 3,
    ProgN1G = 4,
    ProgN1N2S = 5,
    ProgOnlyN1 = 10,
    ProgOnlyN2 = 11,
    ProgOnlyN3 = 12,
};

// Programs that have a mimic window.
constexpr bool hasMimicWindow(int program) {
    return (program >= 1 && program <= 5) || (program >= 10 && program <= 12);
}

// Active-line codes (Aktywna_Linia and the event record).
enum ActiveLine : int {
    ActiveNone = 0,
    ActiveN1 = 1,
    ActiveN2 = 2,
    ActiveN3 = 3,
    ActiveN1N3 = 4,
    ActiveN1S = 5,
    ActiveN3S = 6,
};

constexpr int kEventRingSize = 500;

} // namespace qta
