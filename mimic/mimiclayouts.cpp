#include "mimic/mimiclayouts.h"

namespace qta {

namespace {

constexpr unsigned kYellow = 0xFFFF00;
constexpr unsigned kLightYellow = 0xFFFF80;
constexpr unsigned kRed = 0xFF0000;
constexpr unsigned kAzure = 0x0080FF;

constexpr std::array<unsigned, 3> kUsual{kYellow, kRed, kAzure};

TPanelLayout panel(int line, QString tag, QString genitive, std::array<int, 3> readingX,
                   std::array<int, 3> lampX, int lampY, QPoint badge, QPoint chart,
                   std::array<unsigned, 3> colours = kUsual) {
    TPanelLayout p;
    p.line = line;
    p.tag = std::move(tag);
    p.genitive = std::move(genitive);
    p.readingX = readingX;
    p.lampX = lampX;
    p.lampY = lampY;
    p.badge = badge;
    p.chart = chart;
    p.colours = colours;
    return p;
}

TPanelLayout lineN(int n, std::array<int, 3> readingX, std::array<int, 3> lampX, int lampY,
                   QPoint badge, QPoint chart, std::array<unsigned, 3> colours = kUsual) {
    const QString tag = QStringLiteral("N%1").arg(n);
    return panel(n, tag, QStringLiteral("linii ") + tag, readingX, lampX, lampY, badge, chart,
                 colours);
}

TPanelLayout generator(std::array<int, 3> readingX, std::array<int, 3> lampX, QPoint badge,
                       QPoint chart, std::array<unsigned, 3> colours = kUsual) {
    return panel(3, QStringLiteral("G"), QStringLiteral("generatora"), readingX, lampX, 72, badge,
                 chart, colours);
}

TDiagramPicture picture(const char* name, int program, const char* suffix,
                        const QString& description) {
    return {QLatin1String(name),
            QStringLiteral("diagram_prog%1_%2.svg").arg(program).arg(QLatin1String(suffix)),
            description};
}

TMimicLayout base(int program, const char* caption, QSize client, QSize background) {
    TMimicLayout l;
    l.program = program;
    l.className = QStringLiteral("TProg_%1").arg(program);
    l.caption = QString::fromUtf8(caption);
    l.client = client;
    l.backgroundName = QStringLiteral("Image1");
    l.backgroundFile = QStringLiteral("bg_prog%1.svg").arg(program);
    l.backgroundSize = background;
    l.timerName = QStringLiteral("Timer");
    l.diagramTable.fill(TMimicLayout::kKeep);
    l.diagramTable[0] = TMimicLayout::kOff;
    l.off = picture("Linie_Off", program, "off", QStringLiteral("brak aktywnej linii"));
    return l;
}

// Programs 1 and 2: three panels side by side, three feeders.
TMimicLayout threeSource(int program) {
    const bool withGenerator = program == 2;
    TMimicLayout l = base(program,
                          withGenerator ? "Aktualny program: N1 + N2 + Generator"
                                        : "Aktualny program: N1 + N2 + N3",
                          withGenerator ? QSize(600, 456) : QSize(598, 455), QSize(601, 457));
    l.sizeable = withGenerator;
    const std::array<unsigned, 3> others = withGenerator
                                               ? std::array<unsigned, 3>{kLightYellow, kRed, kAzure}
                                               : std::array<unsigned, 3>{kYellow, kAzure, kRed};
    l.panels.push_back(
        lineN(1, {32, 86, 139}, {34, 88, 141}, 72, {70, 132}, {withGenerator ? 25 : 32, 188}));
    l.panels.push_back(
        lineN(2, {231, 285, 337}, {233, 287, 339}, 72, {265, 132}, {223, 188}, others));
    if (withGenerator)
        l.panels.push_back(
            generator({429, 483, 535}, {431, 485, 537}, {470, 132}, {421, 188}, others));
    else
        l.panels.push_back(
            lineN(3, {429, 483, 535}, {431, 485, 537}, 72, {470, 132}, {421, 188}, others));
    l.diagram = QRect(53, 344, 497, 98);
    if (!withGenerator)
        l.off.name = QStringLiteral("Linie_OFF");
    l.active = {picture("N1_Aktywna", program, "n1", QStringLiteral("linia N1 aktywna")),
                picture("N2_Aktywna", program, "n2", QStringLiteral("linia N2 aktywna")),
                picture("N3_Aktywna", program, "n3",
                        withGenerator ? QStringLiteral("generator aktywny")
                                      : QStringLiteral("linia N3 aktywna"))};
    l.diagramTable[1] = 0;
    l.diagramTable[2] = 1;
    l.diagramTable[3] = 2;
    l.selfSwitch = !withGenerator;
    l.linkTest = !withGenerator;
    return l;
}

// Programs 3, 4 and 5: two panels side by side.
TMimicLayout twoSource(int program) {
    static const char* const captions[] = {"Aktualny program: N1 + N2",
                                           "Aktualny program: N1 + Generator",
                                           "Aktualny program: N1 + N2 + S"};
    static const QSize clients[] = {{597, 464}, {600, 461}, {599, 463}};
    static const QSize backgrounds[] = {{601, 461}, {598, 461}, {601, 465}};
    const int i = program - 3;
    TMimicLayout l = base(program, captions[i], clients[i], backgrounds[i]);
    l.panels.push_back(lineN(1, {94, 146, 199}, {96, 148, 201}, 72, {132, 132}, {85, 188}));
    const std::array<int, 3> rx{366, 419, 472}, lx{368, 421, 474};
    const QPoint badge(405, 132), chart(358, 188);
    switch (program) {
    case 3:
        l.panels.push_back(lineN(2, rx, lx, 72, badge, chart));
        l.diagram = QRect(116, 349, 379, 98);
        l.active = {picture("N1_Aktywna", 3, "n1", QStringLiteral("linia N1 aktywna")),
                    picture("N2_Aktywna", 3, "n2", QStringLiteral("linia N2 aktywna"))};
        l.diagramTable[1] = 0;
        l.diagramTable[2] = 1;
        break;
    case 4:
        l.panels.push_back(generator(rx, lx, badge, chart));
        l.diagram = QRect(116, 345, 379, 100);
        l.active = {picture("N1_Aktywna", 4, "n1", QStringLiteral("linia N1 aktywna")),
                    picture("N3_Aktywna", 4, "n3", QStringLiteral("generator aktywny"))};
        l.diagramTable[1] = 0;
        l.diagramTable[3] = 1;
        break;
    default: {
        // The coupler program: the controller's line 3 feeds the right-hand
        // busbar section, which the panel titles "Linia N2".
        TPanelLayout right =
            panel(3, QStringLiteral("N2"), QStringLiteral("linii N2"), rx, lx, 72, badge, chart);
        l.panels.push_back(right);
        l.panels[0].axisMin = 107;
        l.panels[0].axisMax = 332;
        l.diagram = QRect(105, 352, 388, 95);
        l.active = {
            picture("Aktywna_4", 5, "a4", QStringLiteral("linie N1 i N2 zasilają swoje sekcje")),
            picture("Aktywna_5", 5, "a5",
                    QStringLiteral("linia N1 zasila obie sekcje przez sprzęgło")),
            picture("Aktywna_6", 5, "a6",
                    QStringLiteral("linia N2 zasila obie sekcje przez sprzęgło"))};
        l.diagramTable[4] = 0;
        l.diagramTable[5] = 1;
        l.diagramTable[6] = 2;
        break;
    }
    }
    return l;
}

// Programs 10, 11 and 12: one line, one feeder.
TMimicLayout singleLine(int program) {
    const int n = program - 9;
    static const char* const captions[] = {"Tylko linia N1", "Tylko linia N2", "Tylko linia N3"};
    static const QSize clients[] = {{593, 463}, {599, 462}, {592, 463}};
    static const QSize backgrounds[] = {{593, 467}, {601, 465}, {593, 465}};
    TMimicLayout l = base(program, captions[n - 1], clients[n - 1], backgrounds[n - 1]);
    l.backgroundName = QStringLiteral("Tlo");
    l.timerName = QStringLiteral("Timer1");
    l.panels.push_back(lineN(n, {229, 282, 336}, {231, 284, 338}, 71, {268, 132}, {220, 187}));
    l.diagram = program == 10 ? QRect(104, 354, 386, 95) : QRect(104, 354, 385, 96);
    l.off = picture("Linia_Off", program, "off", QStringLiteral("linia N%1 nieaktywna").arg(n));
    const QByteArray name = QStringLiteral("N%1_Aktywna").arg(n).toLatin1();
    const QByteArray suffix = QStringLiteral("n%1").arg(n).toLatin1();
    l.active = {picture(name.constData(), program, suffix.constData(),
                        QStringLiteral("linia N%1 aktywna").arg(n))};
    // One feeder: either it feeds the load or the diagram is off.
    l.diagramTable.fill(TMimicLayout::kOff);
    l.diagramTable[size_t(n)] = 0;
    l.otherValues = TMimicLayout::kOff;
    l.selfSwitch = true;
    return l;
}

} // namespace

int badgeOfStatus(int status) {
    switch (status) {
    case 0: return 0;
    case 1: return 2;
    case 2: return 1;
    case 3: return 3;
    default: return -1;
    }
}

QString mimicReadingText(int volts) {
    if (volts <= 80)
        return QStringLiteral("---");
    if (volts >= 300)
        return QStringLiteral("+++");
    return QString::number(volts) + QLatin1Char('V');
}

const TMimicLayout* mimicLayout(int program) {
    static const std::array<TMimicLayout, 8> layouts{threeSource(1), threeSource(2), twoSource(3),
                                                     twoSource(4),   twoSource(5),   singleLine(10),
                                                     singleLine(11), singleLine(12)};
    for (const TMimicLayout& l : layouts)
        if (l.program == program)
            return &l;
    return nullptr;
}

} // namespace qta
