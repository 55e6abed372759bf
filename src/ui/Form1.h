#pragma once
// The main window: the patch side ("Source APS") and the image side
// ("Destination Rom"), each with a file list and the header fields of the
// selected file, the four compared pairs coloured by CheckMatch, and the
// "Patch Rom" and "Change Format" actions. Handlers read the controls, call the
// core and show the outcome.

#include "BrowseDialog.h"
#include "ProgramServices.h"
#include "match/MatchCheck.h"
#include "patch/PatchFormat.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <filesystem>

class QAction;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tarnic {

class FileList;
class Form2;
class Form3;
class Form4;
struct PatchDisplay;
struct Settings;

inline const QColor kMatchColour(0, 255, 0);
inline const QColor kMismatchColour(255, 0, 0);

class Form1 final : public QMainWindow {
    Q_OBJECT
  public:
    Form1(Settings &settings, ProgramServices services, QWidget *parent = nullptr);
    ~Form1() override; // runs Form_Terminate

    // The settings window created at start-up, shown by Options/Settings.
    void adoptSettingsWindow(Form2 *window);

    // Opens files as their clicks do: a patch (told by its content) points the
    // patch list at its folder and is read as if clicked there, anything else
    // the image list likewise; patches first, so that with both the pairs are
    // coloured as after two clicks. A folder points the list it is meant for
    // (`folderFor`, the patch list when none) at itself. A file the list does
    // not show gets the message its click would give.
    void openFiles(const QList<std::filesystem::path> &files, FileList *folderFor = nullptr);

  protected:
    void closeEvent(QCloseEvent *event) override; // Form_Unload
    // Files dropped anywhere on the window are opened; a folder dropped on a
    // list points that list at it. A drop writes nothing.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    // Image side first, patch side second, in the order they are compared.
    using MatchPair = std::pair<QLabel *, QLabel *>;
    std::array<MatchPair, kMatchPairCount> MatchPairs() const;
    void CheckMatch();

    void PatchFileList_Click();
    void RomFileList_Click();
    void PatchClk_Click();
    void SwapCartClk_Click();
    void BrowseClk1_Click();
    void BrowseClk2_Click();
    void Exit_Click();
    void Settings_Click();
    void About_Click();

    void buildWindow();
    // The match rule on the texts the pairs show now.
    std::array<bool, kMatchPairCount> comparePairsShown() const;
    void Form_Load();
    void showPatchDisplay(const PatchDisplay &display);
    // A patch of another format than APS, shown in the same fields.
    void showOtherFormat(const PatchSummary &patch);
    // For a patch that names its source: its four target fields show the
    // selected image's own values once the image is its source in some byte
    // order, and nothing otherwise.
    void showWhatThePatchProves();
    void resetHints();
    // "Patch Rom" needs a patch and an image selected, "Change Format" an
    // image; both also what the last image read allows.
    void updateButtons();
    void showImageAsItIsNow();
    void browse(BrowseDialog &dialog, FileList *list, QString &rememberedFolder);
    // Points `list` at `folder` as Browse does, remembered in `rememberedFolder`.
    void pointListAt(FileList *list, QString &rememberedFolder, const QString &folder);
    BusyWindow &busyWindow();
    std::filesystem::path selectedFile(const FileList *list, const QString &folder) const;

    // Menu
    QAction *Exit;
    QAction *Settings_;
    QAction *About;

    // Patch side
    QGroupBox *Frame1;
    QLabel *PatchTypeTxT;
    QLabel *EncodeMethodTxt;
    QPlainTextEdit *PatchNfo;
    QLabel *BackupType;
    QLabel *CartID;
    QLabel *CountryID;
    QLabel *PTCRC;
    FileList *PatchFileList;
    QPushButton *BrowseClk1;

    // Image side
    QGroupBox *RomDest;
    QPushButton *SwapCartClk;
    QPlainTextEdit *RomHeaderTxT;
    QLabel *RomFormatTxt;
    QLabel *RomCartIDTxT;
    QLabel *RomCountryTxt;
    QLabel *RomCRCTxt;
    FileList *RomFileList;
    QPushButton *BrowseClk2;
    QPushButton *PatchClk;

    Settings &settings_;
    ProgramServices services_;
    BrowseDialog Browse1;
    BrowseDialog Browse2;
    QPointer<Form2> form2_;
    QPointer<Form3> form3_;
    Form4 *form4_ = nullptr;
    bool shutdownStarted_ = false;
    // What the image read last allows: patching (not a backup, a known byte
    // order) and conversion (a known byte order).
    bool imageAllowsPatch_ = true;
    bool imageAllowsSwap_ = true;
    // What the patch read last allows: not one its click refused.
    bool patchAllowsPatch_ = true;
    // The selected patch is large enough that its own CRC-32 is checked by
    // Patch Rom rather than by its click.
    bool patchCrcDeferred_ = false;
    // The selected patch, where it proves its source (by the source's CRC-32,
    // or by checksums of its result): what proves the selected image its source.
    std::optional<PatchSummary> provingPatch_;
    std::filesystem::path provingPatchPath_;
};

} // namespace tarnic
