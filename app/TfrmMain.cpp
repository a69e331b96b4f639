#include "app/TfrmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <cstring>
#include <vector>

#include "app/CWinCHMHelp.h"
#include "app/CatalogueNotices.h"
#include "app/DBWrapperGlobal.h"
#include "app/DataFolder.h"
#include "app/LocalText.h"
#include "app/MdiTiling.h"
#include "app/MessageBoxes.h"
#include "app/ModalRunner.h"
#include "app/Named.h"
#include "app/ProgramFolder.h"
#include "app/StartProgress.h"
#include "app/TIniFile.h"
#include "app/TfrmAbout.h"
#include "app/TfrmData.h"
#include "app/TfrmParameters.h"
#include "app/USdkUrlLauncher.h"
#include "app/WindowPlacement.h"
#include "catalog/Engine.h"
#include "catalog/Udbwrapper.h"
#include "features/archive/TfrmExport.h"
#include "features/archive/TfrmImport.h"
#include "features/browser/TfrmSupportDisplay.h"
#include "features/indexing/TfrmIndexing.h"
#include "features/search/TfrmSearch.h"
#include "features/stats/TfrmStat.h"
#include "features/supports/TfrmSupportList.h"

TfrmMain* frmMain = nullptr;

namespace {

// The designed placement, kept until the ini file says otherwise.
constexpr int kDesignedLeft = 220;
constexpr int kDesignedTop = 205;
constexpr int kDesignedWidth = 650;
constexpr int kDesignedHeight = 260;
constexpr int kMinimumWidth = 640;

// The Display menu's own items (the support list, a separator, the tool
// bar, the arrangement submenu, a separator); the window list follows.
constexpr qsizetype kDisplayOwnItems = 5;

// The class names by which the window list tells the search windows and
// the support browsers from the other child windows.
constexpr char kSearchForm[] = "TfrmSearch";
constexpr char kBrowserForm[] = "TfrmSupportDisplay";

// The language string of every caption, by control.
struct Caption {
  int32_t id;
  const char* control;
};
constexpr Caption kCaptions[] = {
    {1, "itmFile"},           {2, "itmInfoBase"},      {3, "itmPreferences"},
    {4, "itmQuit"},           {5, "itmSearch"},        {6, "itmSupportList"},
    {7, "itmNewSearch"},      {8, "itmDisplay"},       {9, "itmToolBar"},
    {10, "itmOrganize"},      {11, "itmFormCascad"},   {12, "itmFormTileVert"},
    {13, "itmFormTileHoriz"}, {14, "itmTools"},        {15, "itmSupportIndex"},
    {16, "itmImportBase"},    {17, "itmExportBase"},   {18, "itmEmptyBase"},
    {19, "itmHelp"},          {20, "itmCommonHelp"},   {21, "itmAbout"},
    {26, "sbInfos"},          {27, "sbPref"},          {28, "sbListSupp"},
    {29, "sbSearch"},         {30, "sbSupportIndex"},  {31, "sbImport"},
    {32, "sbExport"},         {33, "sbSuppExport"},    {34, "sbHelp"},
    {36, "sbSmartSearch"},    {37, "itmSendFeedBack"}, {38, "itmKavriOntheWeb"},
};

// A class name without its namespaces.
bool isForm(const QWidget* form, const char* className) {
  if (form == nullptr) return false;
  const char* name = form->metaObject()->className();
  const char* colon = std::strrchr(name, ':');
  return std::strcmp(colon != nullptr ? colon + 1 : name, className) == 0;
}

// A window caption as a menu item shows it: '&' stays a character.
QString asItemText(QString caption) {
  return caption.replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent),
      data_(std::make_unique<TfrmData>()),
      MainMenu1(Named(menuBar(), "MainMenu1")),
      pnlToolBar(Named(new QToolBar, "pnlToolBar")),
      StatusBar1(Named(statusBar(), "StatusBar1")),
      mdiArea(Named(new QMdiArea, "MDIClient")) {
  setObjectName(QStringLiteral("frmMain"));
  tellRefusedLanguageLibrary();
  setWindowTitle(data_->ProductName() + data_->Version());
  setCentralWidget(mdiArea);
  buildMenus();
  buildToolBar();

  const std::string folder = prepareDataFolder();
  InitEngine();
  // Opening the catalogue also turns the engine's single-open check off,
  // for the short-lived second handles of the lists and searches.
  {
    // A start that rebuilds an index shows it while it works.
    const StartProgress progress(GlobalCode4());
    db_ = std::make_unique<TDBWrapper>(GlobalCode4(), folder);
  }
  if (db_->Opening() == TCatalogueOpening::kHeldElsewhere) refuseHeldCatalogue(folder);
  ShowStartReport(db_->StartReport(), folder);
  dbWrapper = db_.get();
  try {
    db_->CountSupports();

    setMinimumWidth(kMinimumWidth);
    move(kDesignedLeft, kDesignedTop);
    resize(kDesignedWidth, kDesignedHeight);
    const TIniFile ini(IniFilePath());
    LoadFormPlacement(*this, ini, "MainForm", true, true);
    action("itmToolBar")->setChecked(ini.ReadInteger("Misc", "ToolBars", 1) != 0);

    ApplyLanguage();
    action("sbSmartSearch")->setVisible(false);
  } catch (...) {
    dbWrapper = nullptr;
    throw;
  }
  frmMain = this;
}

TfrmMain::~TfrmMain() {
  if (frmMain == this) frmMain = nullptr;
  // The child windows still here (searches, browsers) may hold handles on
  // the catalogue's tables: they go before it.
  for (QMdiSubWindow* child : mdiArea->subWindowList()) delete child;
  help_.reset();
  dbWrapper = nullptr;
  db_.reset();
  SilenceWriteRefusals(false);
}

void TfrmMain::buildMenus() {
  auto addMenu = [this](QMenu* parent, const char* name, const char* title) {
    QMenu* menu = Named(new QMenu(QString::fromUtf8(title), this), name);
    if (parent != nullptr) {
      parent->addMenu(menu);
    } else {
      MainMenu1->addMenu(menu);
    }
    return menu;
  };

  QMenu* file = addMenu(nullptr, "itmFile", "&Fichier");
  menuItem(file, "itmImportBase", "&Importer base", &TfrmMain::itmImportBaseClick);
  menuItem(file, "itmExportBase", "&Exporter base", &TfrmMain::itmExportBaseClick);
  menuItem(file, "itmInfoBase", "Informations &base", &TfrmMain::itmInfoBaseClick);
  file->addSeparator();
  menuItem(file, "itmQuit", "&Quitter", &TfrmMain::itmQuitClick);

  QMenu* edit = addMenu(nullptr, "itmSearch", "&Edition");
  menuItem(edit, "itmSupportIndex", "Indexer &nouvelle source", &TfrmMain::itmSupportIndexClick);
  menuItem(edit, "itmEmptyBase", "&Vider base", &TfrmMain::itmEmptyBaseClick);

  QMenu* display = addMenu(nullptr, "itmDisplay", "Affichage");
  menuItem(display, "itmSupportList", "Liste des supports", &TfrmMain::itmSupportListClick);
  display->addSeparator();
  // A checked item changes its own mark when chosen; the tool bar follows
  // the mark, whoever changes it.
  QAction* toolBar = Named(new QAction(QStringLiteral("Barre d'outil"), this), "itmToolBar");
  toolBar->setCheckable(true);
  toolBar->setChecked(true);
  connect(toolBar, &QAction::toggled, pnlToolBar, &QWidget::setVisible);
  display->addAction(toolBar);
  QMenu* organize = addMenu(display, "itmOrganize", "Réorganiser les fenêtres");
  menuItem(organize, "itmFormCascad", "Cascade", &TfrmMain::itmFormCascadClick);
  menuItem(organize, "itmFormTileVert", "Mosaique verticale", &TfrmMain::itmFormTileVertClick);
  menuItem(organize, "itmFormTileHoriz", "Mosaique horizontale", &TfrmMain::itmFormTileHorizClick);
  display->addSeparator();
  connect(display, &QMenu::aboutToShow, this, &TfrmMain::itmDisplayClick);

  QMenu* tools = addMenu(nullptr, "itmTools", "&Outils");
  menuItem(tools, "itmNewSearch", "&Nouvelle recherche", &TfrmMain::itmNewSearchClick);
  menuItem(tools, "itmPreferences", "Préférences", &TfrmMain::itmPreferencesClick);

  QMenu* help = addMenu(nullptr, "itmHelp", "&Aide");
  menuItem(help, "itmCommonHelp", "Aide générale", &TfrmMain::itmCommonHelpClick)
      ->setShortcut(QKeySequence(Qt::Key_F1));
  menuItem(help, "itmSendFeedBack", "Send feedback", &TfrmMain::itmSendFeedBackClick);
  menuItem(help, "itmKavriOntheWeb", "Kavri on the web", &TfrmMain::itmSendFeedBackClick);
  help->addSeparator();
  menuItem(help, "itmAbout", "A propos", &TfrmMain::itmAboutClick);
}

void TfrmMain::buildToolBar() {
  pnlToolBar->setMovable(false);
  pnlToolBar->setFloatable(false);
  pnlToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  // Its visibility belongs to the Display menu alone.
  pnlToolBar->toggleViewAction()->setVisible(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  addToolBar(Qt::TopToolBarArea, pnlToolBar);

  toolButton("sbSupportIndex", "Indexer", QStyle::SP_DriveCDIcon, &TfrmMain::itmSupportIndexClick);
  toolButton("sbImport", "Importer", QStyle::SP_DialogOpenButton, &TfrmMain::itmImportBaseClick);
  toolButton("sbExport", "Exporter", QStyle::SP_DialogSaveButton, &TfrmMain::itmExportBaseClick)
      ->setEnabled(false);
  toolButton("sbSuppExport", "Exporter support", QStyle::SP_ArrowForward,
             &TfrmMain::sbSuppExportClick)
      ->setEnabled(false);
  pnlToolBar->addSeparator();
  toolButton("sbListSupp", "Supports", QStyle::SP_FileDialogDetailedView,
             &TfrmMain::itmSupportListClick);
  toolButton("sbSearch", "Recherche", QStyle::SP_FileDialogContentsView,
             &TfrmMain::itmNewSearchClick)
      ->setEnabled(false);
  toolButton("sbSmartSearch", "Recherche rapide", QStyle::SP_FileDialogInfoView,
             &TfrmMain::sbSmartSearchClick);
  pnlToolBar->addSeparator();
  toolButton("sbInfos", "Infos", QStyle::SP_MessageBoxInformation, &TfrmMain::itmInfoBaseClick);
  toolButton("sbPref", "Préférences", QStyle::SP_FileDialogListView, &TfrmMain::itmPreferencesClick)
      ->setVisible(false);
  toolButton("sbHelp", "Aide", QStyle::SP_DialogHelpButton, &TfrmMain::itmCommonHelpClick);
}

QAction* TfrmMain::menuItem(QMenu* menu, const char* name, const char* caption,
                            void (TfrmMain::*handler)()) {
  QAction* item = Named(new QAction(QString::fromUtf8(caption), this), name);
  connect(item, &QAction::triggered, this, handler);
  menu->addAction(item);
  return item;
}

QAction* TfrmMain::toolButton(const char* name, const char* caption, int icon,
                              void (TfrmMain::*handler)()) {
  QAction* button = Named(new QAction(QString::fromUtf8(caption), this), name);
  button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
  connect(button, &QAction::triggered, this, handler);
  pnlToolBar->addAction(button);
  Named(pnlToolBar->widgetForAction(button), name);
  return button;
}

QAction* TfrmMain::action(const char* name) const {
  return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

QMenu* TfrmMain::menu(const char* name) const {
  return findChild<QMenu*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void TfrmMain::tellRefusedLanguageLibrary() {
  const CStandardTextResources& texts = data_->Texts();
  if (texts.Refusal().why == language_check::Refusal::Why::kNone) return;
  const QString cause = language_check::WordRefusal(
      texts.Refusal(),
      [](int32_t id, std::string_view builtIn, std::initializer_list<FormatArg> args) {
        return LocalFormat(id, builtIn, args);
      });
  ShowMessageBox(LocalText(186, QString::fromUtf8("Bibliothèque de langue refusée :")) + ' ' +
                     QFile::decodeName(QByteArray::fromStdString(texts.LibraryPath())) + '\n' +
                     cause,
                 LocalText(22, QStringLiteral("Attention")), BoxButtons::Ok);
}

std::string TfrmMain::prepareDataFolder() {
  const std::string folder = DataFolderPath();
  if (EnsureDataFolder(folder)) return folder;
  ShowMessageBox(LocalText(23, QString::fromUtf8("Création répertoire impossible")) +
                     QFile::decodeName(QByteArray::fromStdString(folder)),
                 LocalText(22, QStringLiteral("Attention")), BoxButtons::Ok);
  throw TDataFolderError("cannot be made", folder);
}

void TfrmMain::refuseHeldCatalogue(const std::string& folder) {
  // Without its tables the program could only show an empty catalogue and
  // refuse every change: it ends, as without a data folder.
  db_.reset();
  ShowMessageBox(
      LocalText(230, QString::fromUtf8("Base de données déjà ouverte par un autre programme :")) +
          QLatin1Char('\n') + QFile::decodeName(QByteArray::fromStdString(folder)),
      LocalText(22, QStringLiteral("Attention")), BoxButtons::Ok);
  throw TDataFolderError("held by another process", folder);
}

void TfrmMain::ApplyLanguage() {
  for (const Caption& caption : kCaptions) {
    if (QMenu* item = menu(caption.control)) {
      item->setTitle(LocalText(caption.id, item->title()));
    } else if (QAction* item = action(caption.control)) {
      item->setText(LocalText(caption.id, item->text()));
    }
  }
  for (QMdiSubWindow* child : mdiArea->subWindowList(QMdiArea::CreationOrder)) {
    if (auto* browser = qobject_cast<TfrmSupportDisplay*>(child->widget())) {
      browser->ApplyLanguage();
    } else if (auto* search = qobject_cast<TfrmSearch*>(child->widget())) {
      search->ApplyLanguage();
    }
  }
  if (frmSupportList != nullptr) frmSupportList->ApplyLanguage();
}

void TfrmMain::ShowSupportDisplay(int32_t supportId, const std::string& path,
                                  const std::string& fileName) {
  for (QMdiSubWindow* child : mdiArea->subWindowList(QMdiArea::CreationOrder)) {
    auto* browser = qobject_cast<TfrmSupportDisplay*>(child->widget());
    if (browser == nullptr || browser->GetSupportId() != supportId) continue;
    bringToFront(child);
    if (!fileName.empty()) browser->LocateFile(path, fileName);
    return;
  }
  auto* browser = new TfrmSupportDisplay;
  browser->LoadSupport(supportId);
  if (!fileName.empty()) browser->LocateFile(path, fileName);
  browser->ApplyLanguage();
  AddChildWindow(*browser);
}

QMdiSubWindow* TfrmMain::AddChildWindow(QWidget& form) {
  QMdiSubWindow* child = mdiArea->addSubWindow(&form);
  child->show();
  return child;
}

void TfrmMain::EnableSupportCommands(bool enabled) {
  for (const char* name :
       {"sbSuppExport", "sbExport", "sbSearch", "sbSmartSearch", "itmExportBase", "itmNewSearch"})
    action(name)->setEnabled(enabled);
}

void TfrmMain::itmImportBaseClick() {
  if (TfrmSearch::AnySearchRunning()) return;
  if (frmImport == nullptr || !dbWrapper->MayChange()) return;
  frmImport->ApplyLanguage();
  frmImport->ResetTrace();
  RunModal(*frmImport);
  dbWrapper->CountSupports();
  if (frmSupportList != nullptr) frmSupportList->RefreshList();
}

void TfrmMain::itmExportBaseClick() {
  if (frmExport == nullptr) return;
  frmExport->SetExportScope(-1);
  frmExport->ApplyLanguage();
  RunModal(*frmExport);
}

void TfrmMain::itmInfoBaseClick() {
  if (frmStat == nullptr) return;
  frmStat->ApplyLanguage();
  frmStat->ComputeStats();
  RunModal(*frmStat);
}

void TfrmMain::itmQuitClick() { close(); }

void TfrmMain::itmSupportIndexClick() {
  if (TfrmSearch::AnySearchRunning()) return;
  if (frmIndexing == nullptr || !dbWrapper->MayChange()) return;
  frmIndexing->ApplyLanguage();
  frmIndexing->ResetIndexing();
  RunModal(*frmIndexing);
  if (frmSupportList != nullptr) frmSupportList->RefreshList();
}

void TfrmMain::itmEmptyBaseClick() {
  if (TfrmSearch::AnySearchRunning() || !dbWrapper->MayChange()) return;
  const BoxAnswer answer =
      ShowMessageBox(LocalText(24, QStringLiteral("Etes vous sur de vouloir tout effacer")),
                     LocalText(25, QStringLiteral("Attention")), BoxButtons::YesNo);
  if (answer != BoxAnswer::Yes) return;
  dbWrapper->EmptyBase();
  if (frmSupportList != nullptr) frmSupportList->RefreshList();
}

void TfrmMain::itmDisplayClick() {
  QMenu* display = menu("itmDisplay");
  const QList<QAction*> items = display->actions();
  for (qsizetype i = items.size() - 1; i >= kDisplayOwnItems; i--) delete items[i];

  const QList<QMdiSubWindow*> children = mdiArea->subWindowList(QMdiArea::CreationOrder);
  auto addItems = [&](const char* className) {
    bool added = false;
    for (QMdiSubWindow* child : children) {
      if (!isForm(child->widget(), className)) continue;
      // A browser's ApplyLanguage renews its caption.
      if (auto* browser = qobject_cast<TfrmSupportDisplay*>(child->widget()))
        browser->ApplyLanguage();
      QAction* item = new QAction(asItemText(child->widget()->windowTitle()), display);
      connect(item, &QAction::triggered, this,
              [this, target = QPointer<QMdiSubWindow>(child)] { itmGoFormClick(target); });
      display->addAction(item);
      added = true;
    }
    return added;
  };
  if (addItems(kSearchForm)) display->addSeparator();
  addItems(kBrowserForm);
}

void TfrmMain::itmSupportListClick() {
  if (frmSupportList == nullptr) return;
  for (QMdiSubWindow* child : mdiArea->subWindowList()) {
    if (child->widget() == frmSupportList) bringToFront(child);
  }
}

void TfrmMain::itmToolBarClick() { action("itmToolBar")->toggle(); }

void TfrmMain::itmFormCascadClick() { mdiArea->cascadeSubWindows(); }

void TfrmMain::itmFormTileVertClick() { tile(true); }

void TfrmMain::itmFormTileHorizClick() { tile(false); }

void TfrmMain::itmNewSearchClick() {
  auto* search = new TfrmSearch;
  connect(search, &TfrmSearch::OpenHitRequested, this, &TfrmMain::ShowSupportDisplay);
  AddChildWindow(*search);
  search->ApplyLanguage();
}

void TfrmMain::itmPreferencesClick() {
  if (frmParameters == nullptr) return;
  connect(frmParameters, &TfrmParameters::toolBarClicked, this, &TfrmMain::itmToolBarClick,
          Qt::UniqueConnection);
  frmParameters->ApplyLanguage();
  frmParameters->SetToolBarCheck(action("itmToolBar")->isChecked());
  if (RunModal(*frmParameters) == QDialog::Accepted) ApplyLanguage();
}

void TfrmMain::itmCommonHelpClick() {
  if (!help_) help_ = std::make_unique<CWinCHMHelp>();
  help_->ShowHelp(HelpFilePath(), std::string(), false);
}

void TfrmMain::itmSendFeedBackClick() {
  const bool feedback = sender() == action("itmSendFeedBack");
  OpenWebPage(this, feedback ? kFeedbackPageAddress : kHomePageAddress);
}

void TfrmMain::itmAboutClick() {
  if (frmAbout == nullptr) return;
  frmAbout->ApplyLanguage();
  RunModal(*frmAbout);
}

void TfrmMain::sbSuppExportClick() {
  if (frmSupportList != nullptr) frmSupportList->itmSupportExportClick();
}

void TfrmMain::itmGoFormClick(QMdiSubWindow* child) {
  if (child != nullptr) bringToFront(child);
}

void TfrmMain::sbSmartSearchClick() {}

void TfrmMain::bringToFront(QMdiSubWindow* child) {
  if (child->isMinimized()) child->showNormal();
  mdiArea->setActiveSubWindow(child);
  child->raise();
}

void TfrmMain::tile(bool sideBySide) {
  // The topmost window first, as the system tiles.
  std::vector<QMdiSubWindow*> shown;
  const QList<QMdiSubWindow*> children = mdiArea->subWindowList(QMdiArea::StackingOrder);
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    if (!(*child)->isVisible() || (*child)->isMinimized()) continue;
    if ((*child)->isMaximized()) (*child)->showNormal();
    shown.push_back(*child);
  }
  const QSize area = mdiArea->viewport()->size();
  const std::vector<FormBounds> strips =
      TileStrips(static_cast<int32_t>(shown.size()), area.width(), area.height(), sideBySide);
  for (size_t i = 0; i < shown.size(); i++)
    shown[i]->setGeometry(strips[i].left, strips[i].top, strips[i].width, strips[i].height);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!childrenMayClose()) {
    event->ignore();
    return;
  }
  formClose();
  writeBeforeClosing();
  event->accept();
}

void TfrmMain::writeBeforeClosing() {
  // What the catalogue holds is written while the window stands: the close
  // of its tables, later, would meet the same refusal with nobody to tell.
  if (db_ == nullptr || db_->Opening() != TCatalogueOpening::kOpened || db_->ReadOnly()) return;
  // From now on a refused write is said here, once, or not at all.
  SilenceWriteRefusals(true);
  // Finished as a change is, so that a sync that fails is said here too.
  if (db_->FinishChange() || !db_->WriteRefused()) return;
  ShowMessageBox(LocalText(267, QString::fromUtf8(
                                    "Le disque est plein : ce que la base gardait en mémoire n'a "
                                    "pas pu être écrit avant la fermeture. Le prochain démarrage "
                                    "réparera la base à partir de ce que le disque contient.")),
                 LocalText(22, QStringLiteral("Attention")), BoxButtons::Ok);
}

bool TfrmMain::childrenMayClose() {
  for (QMdiSubWindow* child : mdiArea->subWindowList()) {
    if (frmSupportList != nullptr && child->widget() == frmSupportList) {
      if (!frmSupportList->FormCloseQuery()) return false;
    } else if (!child->close()) {
      // A search that is running refuses.
      return false;
    }
  }
  return true;
}

void TfrmMain::formClose() {
  TIniFile ini(IniFilePath());
  SaveFormPlacement(*this, ini, "MainForm", true, true);
  ini.WriteInteger("Misc", "ToolBars", action("itmToolBar")->isChecked() ? 1 : 0);
}
