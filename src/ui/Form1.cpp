#include "Form1.h"

#include "FileList.h"
#include "Form2.h"
#include "Form3.h"
#include "Form4.h"
#include "Geometry.h"
#include "MessageBoxes.h"
#include "ProgramIcon.h"
#include "files/Backup.h"
#include "files/FileReader.h"
#include "files/SafeWrite.h"
#include "patch/PatchApplication.h"
#include "patch/PatchFormat.h"
#include "qt/EngineText.h"
#include "qt/PathText.h"
#include "rom/ByteOrderConversion.h"
#include "startup/Settings.h"
#include "texts/Messages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace tarnic {

namespace {

// The largest patch whose own CRC-32 a click checks (some tens of
// milliseconds); a larger one's is checked by Patch Rom.
constexpr std::uintmax_t kPatchCheckedOnClick = 64 << 20;
const QString kImagePatterns = QStringLiteral("*.V64;*.USA;*.Z64;*.N64;*.ROM;*.JAP;*.PAL;*.bak");

void setTextColour(QWidget *widget, const QColor &colour) {
    setColours(widget, {{QPalette::WindowText, colour}, {QPalette::Text, colour}});
}

QLabel *captionLabel(QWidget *frame, const char *name, const QString &text, QRect where) {
    auto *label = placed<QLabel>(frame, name, where, text);
    label->setFont(designFont(QStringLiteral("Tahoma"), 8.25, true));
    setTextColour(label, QColor(64, 0, 0));
    // A fallback face may be wider than the designed one: the caption keeps its
    // place and grows to the right so that it shows whole.
    label->resize(std::max(where.width(), label->sizeHint().width()), where.height());
    return label;
}

QLabel *valueField(QWidget *frame, const char *name, QRect where, const QColor &colour) {
    auto *field = placed<QLabel>(frame, name, where);
    field->setFont(frame->window()->font());
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setAutoFillBackground(true);
    field->setTextFormat(Qt::PlainText);
    setColours(field, {{QPalette::Window, Qt::black}, {QPalette::WindowText, colour}});
    return field;
}

// A dark box shows no focus of its own (a read-only text box has no cursor, a
// list only a faint band): a frame in the system's highlight colour does.
void showFocusFrame(QWidget *control, const char *className) {
    control->setStyleSheet(QStringLiteral("%1 { border: 2px solid palette(mid); }"
                                          "%1:focus { border: 2px solid palette(highlight); }")
                               .arg(QLatin1String(className)));
}

QPlainTextEdit *textBox(QWidget *frame, const char *name, QRect where) {
    auto *box = placed<QPlainTextEdit>(frame, name, where);
    box->setFont(frame->window()->font());
    box->setReadOnly(true);
    setColours(box, {{QPalette::Base, QColor(0, 64, 64)}, {QPalette::Text, Qt::white}});
    showFocusFrame(box, "QPlainTextEdit");
    return box;
}

FileList *fileList(QWidget *frame, const char *name, const QString &patterns, QRect where) {
    auto *list = placed<FileList>(frame, name, where, patterns);
    list->setFont(frame->window()->font());
    setColours(list, {{QPalette::Base, QColor(64, 64, 64)}, {QPalette::Text, Qt::white}});
    showFocusFrame(list, "tarnic--FileList");
    return list;
}

QPushButton *button(QWidget *frame, const char *name, const QString &text, QRect where) {
    auto *b = placed<QPushButton>(frame, name, where, text);
    b->setFont(frame->window()->font());
    return b;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, QRect where) {
    auto *box = placed<QGroupBox>(parent, name, where, caption);
    box->setFont(designFont(QStringLiteral("Tahoma"), 9, true));
    return box;
}

} // namespace

Form1::Form1(tarnic::Settings &settings, ProgramServices services, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint),
      settings_(settings), services_(std::move(services)),
      Browse1(services_.folders, QStringLiteral("Select Your APS <DIR>"), this),
      Browse2(services_.folders, QStringLiteral("Select You Rom <DIR>"), this) {
    buildWindow();
    Form_Load();
}

Form1::~Form1() {
    // Form_Terminate: destroying the window ends the program like File, Exit.
    Exit_Click();
}

void Form1::buildWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kProgramTitle) + QStringLiteral("   by the Tarnic team"));
    setWindowIcon(programIcon());
    // The window's own default face, which value fields, lists and buttons use.
    setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25, false));

    QMenuBar *bar = menuBar();
    auto addMenu = [&](const char *name, const QString &caption, const char *itemName,
                       const QString &itemCaption, void (Form1::*handler)()) {
        QMenu *menu = bar->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        QAction *item = menu->addAction(itemCaption);
        item->setObjectName(QLatin1String(itemName));
        connect(item, &QAction::triggered, this, handler);
        return item;
    };
    Exit =
        addMenu("File", QStringLiteral("File"), "Exit", QStringLiteral("Exit"), &Form1::Exit_Click);
    Settings_ = addMenu("Options", QStringLiteral("Options"), "Settings",
                        QStringLiteral("Settings"), &Form1::Settings_Click);
    About = addMenu("Help", QStringLiteral("Help"), "About", QStringLiteral("About"),
                    &Form1::About_Click);

    auto *client = new QWidget(this);
    client->setFixedSize(twipsToPixels(6975), twipsToPixels(5550));
    setCentralWidget(client);

    const QColor white = Qt::white;
    Frame1 = frame(client, "Frame1", QStringLiteral("Source APS"), twips(0, 120, 3495, 5415));
    captionLabel(Frame1, "PTLABEL", fromEngine(text::PatchTypeCaption), twips(480, 360, 945, 195));
    PatchTypeTxT = valueField(Frame1, "PatchTypeTxT", twips(1560, 360, 1815, 255), white);
    captionLabel(Frame1, "PTEnocde", fromEngine(text::EncodeTypeCaption),
                 twips(360, 720, 1020, 195));
    EncodeMethodTxt = valueField(Frame1, "EncodeMethodTxt", twips(1560, 720, 1815, 255), white);
    captionLabel(Frame1, "Label1", fromEngine(text::NfoCaption), twips(240, 1320, 390, 195));
    PatchNfo = textBox(Frame1, "PatchNfo", twips(840, 1200, 2535, 525));
    captionLabel(Frame1, "PDFormat", fromEngine(text::TargetFormatCaption),
                 twips(240, 1920, 1230, 195));
    BackupType = valueField(Frame1, "BackupType", twips(1560, 1920, 1815, 255), kMismatchColour);
    captionLabel(Frame1, "PTCartID", fromEngine(text::CartIdCaption), twips(840, 2280, 735, 255));
    CartID = valueField(Frame1, "CartID", twips(1560, 2280, 1815, 255), kMismatchColour);
    captionLabel(Frame1, "PTCountry", fromEngine(text::CountryIdCaption),
                 twips(600, 2640, 975, 255));
    CountryID = valueField(Frame1, "CountryID", twips(1560, 2640, 1815, 255), kMismatchColour);
    captionLabel(Frame1, "Label2", fromEngine(text::CrcCheckCaption), twips(600, 3120, 885, 195));
    PTCRC = valueField(Frame1, "PTCRC", twips(1560, 3120, 1815, 255), kMismatchColour);
    PatchFileList =
        fileList(Frame1, "PatchFileList", fromEngine(patchPatterns()), twips(360, 3720, 3015, 870));
    BrowseClk1 = button(Frame1, "BrowseClk1", QStringLiteral("Browse"), twips(480, 4680, 735, 375));

    RomDest =
        frame(client, "RomDest", QStringLiteral("Destination Rom"), twips(3600, 120, 3375, 5415));
    SwapCartClk = button(RomDest, "SwapCartClk", QStringLiteral("Change Format"),
                         twips(1920, 360, 1335, 495));
    captionLabel(RomDest, "Label7", fromEngine(text::RomHeaderCaption), twips(360, 960, 1050, 195));
    RomHeaderTxT = textBox(RomDest, "RomHeaderTxT", twips(720, 1200, 2535, 525));
    captionLabel(RomDest, "Label13", fromEngine(text::ImageFormatCaption),
                 twips(120, 1920, 1215, 195));
    RomFormatTxt =
        valueField(RomDest, "RomFormatTxt", twips(1440, 1920, 1815, 255), kMismatchColour);
    captionLabel(RomDest, "Label14", fromEngine(text::CartIdCaption), twips(720, 2280, 630, 195));
    RomCartIDTxT =
        valueField(RomDest, "RomCartIDTxT", twips(1440, 2280, 1815, 255), kMismatchColour);
    captionLabel(RomDest, "Label15", fromEngine(text::CountryIdCaption),
                 twips(480, 2640, 915, 195));
    RomCountryTxt =
        valueField(RomDest, "RomCountryTxt", twips(1440, 2640, 1815, 255), kMismatchColour);
    captionLabel(RomDest, "Label3", fromEngine(text::CrcCheckCaption), twips(480, 3120, 885, 195));
    RomCRCTxt = valueField(RomDest, "RomCRCTxt", twips(1440, 3120, 1815, 255), kMismatchColour);
    RomFileList = fileList(RomDest, "RomFileList", kImagePatterns, twips(240, 3720, 3015, 870));
    BrowseClk2 =
        button(RomDest, "BrowseClk2", QStringLiteral("Browse"), twips(360, 4680, 735, 375));
    PatchClk =
        button(RomDest, "PatchClk", QStringLiteral("Patch Rom"), twips(2040, 4680, 1215, 495));

    // What a screen reader says of each control: its caption, and the frame it is in.
    const std::pair<QWidget *, QString> spoken[] = {
        {PatchTypeTxT, fromEngine(text::PatchTypeCaption)},
        {EncodeMethodTxt, fromEngine(text::EncodeTypeCaption)},
        {PatchNfo, fromEngine(text::NfoCaption)},
        {BackupType, fromEngine(text::TargetFormatCaption)},
        {CartID, fromEngine(text::CartIdCaption)},
        {CountryID, fromEngine(text::CountryIdCaption)},
        {PTCRC, fromEngine(text::CrcCheckCaption)},
        {PatchFileList, Frame1->title()},
        {BrowseClk1, BrowseClk1->text()},
        {SwapCartClk, SwapCartClk->text()},
        {RomHeaderTxT, fromEngine(text::RomHeaderCaption)},
        {RomFormatTxt, fromEngine(text::ImageFormatCaption)},
        {RomCartIDTxT, fromEngine(text::CartIdCaption)},
        {RomCountryTxt, fromEngine(text::CountryIdCaption)},
        {RomCRCTxt, fromEngine(text::CrcCheckCaption)},
        {RomFileList, RomDest->title()},
        {BrowseClk2, BrowseClk2->text()},
        {PatchClk, PatchClk->text()},
    };
    for (const auto &[control, caption] : spoken) {
        control->setAccessibleName(fromEngine(text::captionName(toEngine(caption))));
        control->setAccessibleDescription(
            static_cast<QGroupBox *>(control->parentWidget())->title());
    }

    setTabOrder(PatchNfo, PatchFileList);
    setTabOrder(PatchFileList, BrowseClk1);
    setTabOrder(BrowseClk1, BrowseClk2);
    setTabOrder(BrowseClk2, RomFileList);
    setTabOrder(RomFileList, RomHeaderTxT);
    setTabOrder(RomHeaderTxT, PatchClk);
    setTabOrder(PatchClk, SwapCartClk);

    connect(PatchFileList, &FileList::entryClicked, this, &Form1::PatchFileList_Click);
    connect(RomFileList, &FileList::entryClicked, this, &Form1::RomFileList_Click);
    connect(BrowseClk1, &QPushButton::clicked, this, &Form1::BrowseClk1_Click);
    connect(BrowseClk2, &QPushButton::clicked, this, &Form1::BrowseClk2_Click);
    connect(PatchClk, &QPushButton::clicked, this, &Form1::PatchClk_Click);
    connect(SwapCartClk, &QPushButton::clicked, this, &Form1::SwapCartClk_Click);

    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
    centreOnScreen(this);
}

void Form1::adoptSettingsWindow(Form2 *window) {
    form2_ = window;
}

void Form1::Form_Load() {
    setAcceptDrops(true);
    for (FileList *list : {PatchFileList, RomFileList}) {
        list->setAcceptDrops(true);
        list->viewport()->setAcceptDrops(true);
        list->viewport()->installEventFilter(this);
    }
    PatchFileList->setFolder(settings_.PatchDir);
    RomFileList->setFolder(settings_.RomDir);
    resetHints();
    updateButtons();
    CheckMatch();
}

std::array<Form1::MatchPair, kMatchPairCount> Form1::MatchPairs() const {
    return {{{RomFormatTxt, BackupType},
             {RomCartIDTxT, CartID},
             {RomCountryTxt, CountryID},
             {RomCRCTxt, PTCRC}}};
}

void Form1::CheckMatch() {
    const std::array<bool, kMatchPairCount> equal = comparePairsShown();
    const std::array<MatchPair, kMatchPairCount> pairs = MatchPairs();
    for (int i = 0; i < kMatchPairCount; ++i) {
        const QColor &colour = equal[i] ? kMatchColour : kMismatchColour;
        setTextColour(pairs[i].first, colour);
        setTextColour(pairs[i].second, colour);
    }
}

std::array<bool, kMatchPairCount> Form1::comparePairsShown() const {
    const std::array<MatchPair, kMatchPairCount> pairs = MatchPairs();
    MatchTexts imageSide;
    MatchTexts patchSide;
    for (int i = 0; i < kMatchPairCount; ++i) {
        imageSide[i] = toEngine(pairs[i].first->text());
        patchSide[i] = toEngine(pairs[i].second->text());
    }
    return comparePairs(imageSide, patchSide);
}

std::filesystem::path Form1::selectedFile(const FileList *list, const QString &folder) const {
    const QString name = list->selectedName();
    return name.isEmpty() ? std::filesystem::path() : pathOf(folder) / pathOf(name);
}

namespace {

// A text from a file as the window shows it: the NUL bytes that pad a short
// name or description are not drawn (they would show as boxes).
QString withoutNulBytes(QString text) {
    return text.remove(QChar(u'\0'));
}

} // namespace

void Form1::showPatchDisplay(const PatchDisplay &display) {
    const std::pair<const std::optional<std::string> &, QLabel *> labels[] = {
        {display.PatchTypeTxT, PatchTypeTxT}, {display.EncodeMethodTxt, EncodeMethodTxt},
        {display.BackupType, BackupType},     {display.CartID, CartID},
        {display.CountryID, CountryID},       {display.PTCRC, PTCRC},
    };
    for (const auto &[text, label] : labels) {
        if (text)
            label->setText(fromEngine(*text));
    }
    if (display.PatchNfo)
        PatchNfo->setPlainText(withoutNulBytes(fromEngine(*display.PatchNfo)));
}

void Form1::PatchFileList_Click() {
    const QString folder = PatchFileList->folder();
    QDir::setCurrent(folder);
    settings_.PatchDir = folder;

    const std::filesystem::path file = selectedFile(PatchFileList, folder);
    provingPatch_.reset();
    patchAllowsPatch_ = true;
    patchCrcDeferred_ = false;
    // A large patch's own CRC-32 would keep the window waiting: it is
    // checked when the patch is applied, under the busy window.
    std::error_code error;
    const bool large = std::filesystem::file_size(file, error) > kPatchCheckedOnClick;
    patchCrcDeferred_ = !error && large;
    const PatchSummary patch =
        inspectPatchFile(file, patchCrcDeferred_ ? ReadDepth::Header : ReadDepth::Checked);
    if (!patch.display) {
        showOtherFormat(patch);
        return;
    }
    showPatchDisplay(*patch.display);
    // A patch refused on its click cannot be applied until another is chosen.
    const auto message = text::messageFor(patch);
    patchAllowsPatch_ = !message;
    updateButtons();
    if (message)
        services_.messages.showMessage(fromEngine(*message));
    else
        CheckMatch();
}

void Form1::showOtherFormat(const PatchSummary &patch) {
    // These formats name no cartridge: the four target fields show what the
    // patch proves of the selected image, and nothing until it proves it.
    const PatchFormatInfo &info = infoOf(patch.format);
    PatchDisplay display;
    display.PatchTypeTxT = padRight(std::string(info.name) + " Patch", kPatchNameWidth);
    display.EncodeMethodTxt =
        padRight(!info.applies()                                ? text::UnsupportedEncoding
                 : patch.checks == PatchChecks::SourceCrc       ? text::CheckedEncoding
                 : patch.checks == PatchChecks::ResultChecksums ? text::ResultCheckedEncoding
                 : patch.checks == PatchChecks::ImageBlock      ? text::BlockCheckedEncoding
                                                                : text::UncheckedEncoding,
                 kPatchNameWidth);
    display.BackupType = display.CartID = display.CountryID = display.PTCRC = std::string();
    display.PatchNfo = patch.description;
    if (patch.checks == PatchChecks::SourceCrc || patch.checks == PatchChecks::ResultChecksums) {
        provingPatch_ = patch;
        provingPatchPath_ = selectedFile(PatchFileList, settings_.PatchDir);
    }
    const std::optional<std::string> message =
        info.applies() ? text::messageFor(patch) : std::nullopt;
    showPatchDisplay(display);
    showWhatThePatchProves();
    patchAllowsPatch_ = !message;
    updateButtons();
    if (message)
        services_.messages.showMessage(fromEngine(*message));
    else
        CheckMatch();
}

void Form1::showWhatThePatchProves() {
    if (!provingPatch_)
        return;
    const std::filesystem::path image = selectedFile(RomFileList, settings_.RomDir);
    const bool proven = !image.empty() && !RomFormatTxt->text().isEmpty() &&
                        provenSourceOrder(*provingPatch_, provingPatchPath_, image).has_value();
    for (const auto &[imageSide, patchSide] : MatchPairs())
        patchSide->setText(proven ? imageSide->text() : QString());
}

void Form1::RomFileList_Click() {
    const QString folder = RomFileList->folder();
    QDir::setCurrent(folder);
    settings_.RomDir = folder;

    imageAllowsPatch_ = !isBackupName(toEngine(RomFileList->selectedName()));
    for (QLabel *field : {RomCountryTxt, RomFormatTxt, RomCartIDTxT, RomCRCTxt})
        field->clear();
    RomHeaderTxT->clear();

    const ImageInspection result = inspectImage(selectedFile(RomFileList, folder));
    switch (result.outcome) {
    case ImageReadOutcome::CannotOpen:
        showWhatThePatchProves();
        updateButtons();
        services_.messages.showMessage(fromEngine(text::ErrorOpeningFile));
        return;
    case ImageReadOutcome::Unrecognised:
        showWhatThePatchProves();
        imageAllowsPatch_ = imageAllowsSwap_ = false;
        updateButtons();
        return;
    case ImageReadOutcome::Shown:
        break;
    }
    imageAllowsSwap_ = true;
    updateButtons();
    RomFormatTxt->setText(fromEngine(result.display.RomFormatTxt));
    RomCRCTxt->setText(fromEngine(result.display.RomCRCTxt));
    RomHeaderTxT->setPlainText(withoutNulBytes(fromEngine(result.display.RomHeaderTxT)));
    RomCartIDTxT->setText(fromEngine(result.display.RomCartIDTxT));
    RomCountryTxt->setText(fromEngine(result.display.RomCountryTxt));
    showWhatThePatchProves();
    CheckMatch();
}

BusyWindow &Form1::busyWindow() {
    if (services_.busy)
        return *services_.busy;
    if (!form4_)
        form4_ = new Form4(this);
    return *form4_;
}

void Form1::PatchClk_Click() {
    BusyWindow &busy = busyWindow();
    busy.setTexts(QStringLiteral("Applying APS Patch"), QStringLiteral("Patching Rom Please Wait"));
    checkFolders(settings_);

    PatchJob job;
    job.patchPath = selectedFile(PatchFileList, settings_.PatchDir);
    job.imagePath = selectedFile(RomFileList, settings_.RomDir);
    if (settings_.BackupOpt == kOptionOn && !job.imagePath.empty())
        job.backupPath = backupNameOf(job.imagePath);
    // What is asked before the patch is written: where a pair differs or the
    // patch names no image, the window's question; where it names no byte
    // order and the image is in a copier's, one in words that say so.
    HeaderBytes head;
    const ByteOrder imageOrder =
        readHeaderBytes(job.imagePath, head) ? byteOrderOf(head) : ByteOrder::Unknown;
    switch (questionBefore(inspectPatchFile(job.patchPath, ReadDepth::Header), imageOrder,
                           !allPairsEqual(comparePairsShown()))) {
    case ApplyQuestion::None:
        break;
    case ApplyQuestion::NamesNoByteOrder:
        job.confirm = [this, imageOrder] {
            return services_.messages.askYesNo(
                fromEngine(text::byteOrderQuestion(text::orderName(imageOrder))),
                fromEngine(text::MatchQuestionTitle));
        };
        break;
    case ApplyQuestion::PairsDiffer:
    case ApplyQuestion::NamesNoImage:
        job.confirm = [this] {
            return services_.messages.askYesNo(fromEngine(text::MatchQuestion),
                                               fromEngine(text::MatchQuestionTitle));
        };
        break;
    }
    job.workStarting = [&busy] { busy.showAndPaint(); };
    // A large patch's own CRC-32, left by its click, is read under the busy
    // window (such a patch names its source, so nothing is asked).
    if (patchCrcDeferred_)
        busy.showAndPaint();

    const ApplyResult result = applyPatchFile(job);
    if (const auto message = text::messageFor(result.outcome))
        services_.messages.showMessage(fromEngine(*message));
    if (result.outcome == ApplyOutcome::Applied && result.backupPath != job.backupPath)
        services_.messages.showMessage(fromEngine(text::BackupNotInPlace) + u' ' +
                                       nameText(result.backupPath.filename()));
    busy.closeWindow();
    if (result.outcome == ApplyOutcome::Applied)
        showImageAsItIsNow();
}

void Form1::showImageAsItIsNow() {
    // The list may have a new file (the backup); the selected image is read
    // again exactly as a click reads it, so the pairs compare what is on disk.
    RomFileList->refresh();
    if (RomFileList->selectedName().isEmpty())
        updateButtons();
    else
        RomFileList_Click();
}

void Form1::updateButtons() {
    const bool imageSelected = !RomFileList->selectedName().isEmpty();
    PatchClk->setEnabled(imageAllowsPatch_ && patchAllowsPatch_ && imageSelected &&
                         !PatchFileList->selectedName().isEmpty());
    SwapCartClk->setEnabled(imageAllowsSwap_ && imageSelected);
}

void Form1::SwapCartClk_Click() {
    BusyWindow &busy = busyWindow();
    busy.setTexts(QStringLiteral("Swapping Format"),
                  QStringLiteral("Swapping Byte Order Please Wait"));
    // A little-endian image is put in cartridge order; the copiers' two
    // orders are exchanged, as ever.
    const std::filesystem::path image = selectedFile(RomFileList, settings_.RomDir);
    HeaderBytes head;
    const bool littleEndian =
        readHeaderBytes(image, head) && byteOrderOf(head) == ByteOrder::LittleEndian;
    const ConversionResult result =
        littleEndian
            ? convertImage(image, ByteOrder::Cartridge, {}, [&busy] { busy.showAndPaint(); })
            : swapByteOrder(image, [&busy] { busy.showAndPaint(); });
    if (const auto message = text::messageFor(result.outcome))
        services_.messages.showMessage(fromEngine(*message));
    busy.closeWindow();
    if (result.outcome == ConversionOutcome::Converted)
        showImageAsItIsNow();
}

void Form1::resetHints() {
    PatchFileList->setToolTip(settings_.PatchDir);
    RomFileList->setToolTip(settings_.RomDir);
}

void Form1::browse(BrowseDialog &dialog, FileList *list, QString &rememberedFolder) {
    dialog.StartFolder = list->folder();
    // Cancelled, the list keeps its folder and its selection (it shows files
    // added meanwhile). A folder that cannot be entered leaves the remembered
    // folder and the list as they were.
    if (!dialog.ShowDialog()) {
        list->refresh();
    } else if (QDir::setCurrent(dialog.SelectedFolder())) {
        rememberedFolder = dialog.SelectedFolder();
        list->setFolder(dialog.SelectedFolder());
    }
    resetHints();
    updateButtons();
}

void Form1::pointListAt(FileList *list, QString &rememberedFolder, const QString &folder) {
    QDir::setCurrent(folder);
    rememberedFolder = folder;
    list->setFolder(folder);
    resetHints();
    updateButtons();
}

namespace {

bool isReadableFile(const std::filesystem::path &file) {
    FileReader probe;
    return probe.open(file);
}

} // namespace

void Form1::openFiles(const QList<std::filesystem::path> &files, FileList *folderFor) {
    std::vector<std::filesystem::path> patches;
    std::vector<std::filesystem::path> images;
    for (const std::filesystem::path &file : files) {
        std::error_code error;
        if (std::filesystem::is_directory(file, error)) {
            FileList *list = folderFor ? folderFor : PatchFileList;
            pointListAt(list, list == PatchFileList ? settings_.PatchDir : settings_.RomDir,
                        nameText(std::filesystem::absolute(file, error)));
            continue;
        }
        // Told by content; by the patch list's patterns when it cannot be read.
        const bool patch = isReadableFile(file) ? recognised(recognisePatchFile(file))
                                                : PatchFileList->matches(file.filename());
        (patch ? patches : images).push_back(file);
    }
    const auto open = [&](const std::filesystem::path &file, FileList *list,
                          QString &rememberedFolder, void (Form1::*click)()) {
        std::error_code error;
        const std::filesystem::path whole = std::filesystem::absolute(file, error);
        pointListAt(list, rememberedFolder, nameText(whole.parent_path()));
        if (!list->select(nameText(whole.filename()))) {
            services_.messages.showMessage(fromEngine(text::ErrorOpeningFile));
            return;
        }
        (this->*click)();
        updateButtons();
    };
    for (const std::filesystem::path &patch : patches)
        open(patch, PatchFileList, settings_.PatchDir, &Form1::PatchFileList_Click);
    for (const std::filesystem::path &image : images)
        open(image, RomFileList, settings_.RomDir, &Form1::RomFileList_Click);
}

namespace {

// The local files a drag carries, named as the system names them.
QList<std::filesystem::path> droppedFiles(const QMimeData *data) {
    QList<std::filesystem::path> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files << pathOf(url.toLocalFile());
    }
    return files;
}

} // namespace

void Form1::dragEnterEvent(QDragEnterEvent *event) {
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dragMoveEvent(QDragMoveEvent *event) {
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event) {
    const QList<std::filesystem::path> files = droppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over, as a click's handler runs once the input is.
    QTimer::singleShot(0, this, [this, files] { openFiles(files); });
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    // A drop on either list: files as anywhere, a folder for that list.
    FileList *list = watched == PatchFileList->viewport() ? PatchFileList
                     : watched == RomFileList->viewport() ? RomFileList
                                                          : nullptr;
    if (list && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
                 event->type() == QEvent::Drop)) {
        auto *drag = static_cast<QDropEvent *>(event);
        const QList<std::filesystem::path> files = droppedFiles(drag->mimeData());
        if (files.isEmpty())
            return false;
        drag->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            QTimer::singleShot(0, this, [this, files, list] { openFiles(files, list); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::BrowseClk1_Click() {
    browse(Browse1, PatchFileList, settings_.PatchDir);
}

void Form1::BrowseClk2_Click() {
    browse(Browse2, RomFileList, settings_.RomDir);
}

void Form1::Settings_Click() {
    if (!form2_)
        form2_ = new Form2(settings_);
    form2_->exec();
}

void Form1::About_Click() {
    // Closing the picture window destroys it; each showing builds it anew.
    form3_ = new Form3();
    form3_->exec();
}

void Form1::Exit_Click() {
    if (shutdownStarted_)
        return;
    shutdownStarted_ = true;
    QDir::setCurrent(services_.programFolder);
    if (!writeSettingsFile(services_.settingsFile, settings_))
        services_.messages.showMessage(fromEngine(text::ErrorWritingIni));
    close();
    if (form2_)
        form2_->close();
    if (form3_)
        form3_->close();
    if (services_.endProgram)
        services_.endProgram();
    else
        QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent *event) {
    // Form_Unload: closing the window, in any way, is File, Exit.
    Exit_Click();
    event->accept();
}

} // namespace tarnic
