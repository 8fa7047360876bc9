#include "ui/help.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QMap>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/message_boxes.h"
#include "ui/selection_dialog.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

struct TTopic {
  const char* Name;
  const char* Title;
  const char* Body;
};

// One short page per page of the wizard and per window.
constexpr TTopic kTopics[] = {
    {"BackupInclude", "Čo zálohovať",
     "<p>Tlačidlom <b>Pridať</b> vyberte zložky, súbory alebo masky (napríklad <tt>*.odt</tt>), "
     "ktoré sa majú zálohovať. Ak je zaškrtnuté <i>Zálohovať aj podzložky</i>, pridá sa za výber "
     "značka <tt>/S</tt> a záloha zahrnie aj všetky podzložky.</p>"
     "<p><b>Odobrať</b> vymaže vybranú položku, <b>Vymazať</b> celý zoznam. Ten istý výber "
     "nemožno pridať dvakrát.</p>"},
    {"BackupExclude", "Čo vynechať",
     "<p>Zložky, súbory a masky v tomto zozname sa do zálohy nedostanú, aj keď ležia vo "
     "vybraných zložkách. Zoznam môže byť prázdny.</p>"},
    {"BackupWhere", "Kam zálohovať",
     "<p>Zadajte zložku, do ktorej sa záloha uloží, a meno súboru zálohy bez koncovky. Záloha sa "
     "uloží do súboru s koncovkou <tt>.001</tt>; ďalšie časti dostanú <tt>.002</tt> a tak "
     "ďalej.</p>"
     "<p><b>Max veľkosť segmentu</b> rozdelí zálohu na časti danej veľkosti v kilobajtoch "
     "(0 = bez delenia). Pri zálohe na páskové zariadenie sa zložka ani meno nezadávajú.</p>"},
    {"BackupHow", "Ako zálohovať",
     "<p><b>Zálohovací mód</b>: všetko, inkrementálne (súbory zmenené od poslednej zálohy), "
     "rozdielovo (zmenené od poslednej úplnej zálohy) alebo len súbory zmenené od zadaného "
     "dátumu.</p>"
     "<p><b>Kompresia</b> zmenší zálohu; <b>Zašifrovať</b> ju chráni heslom (heslo si dobre "
     "zapamätajte, bez neho zálohu nemožno obnoviť). Tlačidlom <b>Štart!</b> sa záloha "
     "spustí.</p>"},
    {"RestoreFrom", "Odkiaľ obnoviť",
     "<p>Vyberte prvý súbor zálohovej sady (koncovka <tt>.001</tt>) alebo zaškrtnite obnovu z "
     "páskového zariadenia. Ak bola záloha zašifrovaná, zadajte heslo. Po stlačení "
     "<b>Ďalej</b> sa načíta obsah sady.</p>"},
    {"RestoreWhat", "Čo obnoviť",
     "<p>Strom ukazuje obsah zálohovej sady. Súbory a zložky na obnovenie označte medzerníkom "
     "alebo kliknutím na zaškrtávacie políčko. Označenie zložky označí všetko pod ňou.</p>"},
    {"RestoreHow", "Ako obnoviť",
     "<p><b>Mód</b>: obnoviť všetko, len novšie súbory, alebo novšie a chýbajúce. Obnovené súbory "
     "sa uložia do zadanej zložky, alebo na ich pôvodné miesto, ak je zaškrtnuté <i>Obnoviť v "
     "pôvodnej lokácii</i>.</p>"},
    {"VerifyWhat", "Čo kontrolovať",
     "<p>Vyberte prvý súbor zálohovej sady (<tt>.001</tt>) alebo kontrolu na páske. Kontrola "
     "porovná každý súbor zálohy bajt po bajte so súborom na disku.</p>"},
    {"VerifyHow", "Nastavenia kontroly",
     "<p>Zaškrtnite <i>Vytvoriť log súbor</i>, ak chcete výsledok kontroly uložiť. Tlačidlom "
     "<b>Štart!</b> sa kontrola spustí.</p>"},
    {"Status", "Priebeh operácie",
     "<p>Okno ukazuje priebeh zálohy, obnovy alebo kontroly: aktuálny súbor, počty, rýchlosť a "
     "odhad zostávajúceho času. Operáciu možno prerušiť; po skončení možno zobraziť log.</p>"},
    {"ViewLog", "Log záznam",
     "<p>Zobrazuje textový záznam operácie. Súbor logu možno odtiaľto aj vymazať.</p>"},
    {"Vyberte_zálohovú_sadu", "Výber zálohovej sady",
     "<p>Vyberte zariadenie, zložku a prvý súbor sady s koncovkou <tt>.001</tt>.</p>"},
    {"Výber_zálohovej_sady", "Výber súborov",
     "<p>Vyberte zložku (v poli sa objaví maska) alebo jeden súbor. Masku možno prepísať, "
     "napríklad na <tt>*.txt</tt>. <i>Zálohovať aj podzložky</i> zahrnie aj podzložky.</p>"},
    {"Vyberte_miesto_pre_uloženie_zálohy", "Miesto pre zálohu",
     "<p>Vyberte zložku, do ktorej sa záloha uloží. Chýbajúcu zložku program po opýtaní "
     "vytvorí.</p>"},
    {"Vyberte_miesto_kam_sa_majú_obnoviť_súbory", "Miesto pre obnovu",
     "<p>Vyberte zložku, do ktorej sa obnovené súbory uložia.</p>"},
};

const TTopic* Find(const QString& topic) {
  for (const TTopic& t : kTopics)
    if (QString::fromUtf8(t.Name) == topic) return &t;
  return nullptr;
}

QString Page(const QString& title, const QString& body) {
  return QStringLiteral(
             "<html><body><h2>%1</h2>%2<hr><p><a href=\"#Obsah\">Obsah</a></p>"
             "</body></html>")
      .arg(title, body);
}

}  // namespace

bool HasHelpTopic(const QString& topic) { return Find(topic) != nullptr; }

QStringList HelpTopics() {
  QStringList out;
  for (const TTopic& t : kTopics) out << QString::fromUtf8(t.Name);
  return out;
}

QString HelpPage(const QString& topic) {
  if (const TTopic* t = Find(topic))
    return Page(QString::fromUtf8(t->Title), QString::fromUtf8(t->Body));
  QString list;
  for (const TTopic& t : kTopics)
    list += QStringLiteral("<li><a href=\"#%1\">%2</a></li>")
                .arg(QString::fromUtf8(t.Name), QString::fromUtf8(t.Title));
  return Page(QStringLiteral("Pomoc programu Vaultix"), QStringLiteral("<ul>%1</ul>").arg(list));
}

QString HelpTopicName(const QString& raw) {
  QString t = raw;
  const qsizetype at = t.indexOf(QStringLiteral("Form"));
  if (at >= 0) t.remove(at, 4);
  t.replace(QLatin1Char(' '), QLatin1Char('_'));
  return t;
}

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Pomoc"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenLinks(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->setObjectName(QStringLiteral("HelpButtons"));
  buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("HelpCloseButton"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* l = new QVBoxLayout(this);
  l->addWidget(browser_);
  l->addWidget(buttons);
  resize(480, 360);
  connect(browser_, &QTextBrowser::anchorClicked, this,
          [this](const QUrl& url) { ShowTopic(url.fragment()); });
}

void THelpWindow::ShowTopic(const QString& topic) {
  topic_ = topic;
  browser_->setHtml(HelpPage(topic));
}

THelpKeyHandler::THelpKeyHandler(QWidget* mainWindow, std::function<QString()> currentPage)
    : QObject(mainWindow), main_(mainWindow), currentPage_(std::move(currentPage)) {
  qApp->installEventFilter(this);
}

THelpKeyHandler::~THelpKeyHandler() {
  if (qApp) qApp->removeEventFilter(this);
}

void THelpKeyHandler::TopicFor(QWidget* active, QString& topic, QString& windowText) const {
  if (active == nullptr || active == main_) {
    topic = currentPage_();
    windowText = main_->windowTitle();
  } else if (qobject_cast<TSelectionForm*>(active)) {
    topic = active->windowTitle();
    windowText = active->windowTitle();
  } else {
    topic = active->objectName();
    windowText = active->windowTitle();
  }
  topic = HelpTopicName(topic);
}

void THelpKeyHandler::HelpKey(bool ctrlShift) {
  QString topic;
  QString windowText;
  TopicFor(QApplication::activeWindow(), topic, windowText);
  if (ctrlShift) {
    const QString t = text::kHelpWindowPrefix + windowText + QStringLiteral("\n\n") +
                      text::kHelpTopicPrefix + topic + QStringLiteral("\n\n") + text::kHelpCopyHint;
    if (ShowBox(QApplication::activeWindow(), windowText, t, TBoxIcon::Information,
                BB_Ok | BB_Cancel) == BB_Ok)
      QApplication::clipboard()->setText(topic);
    return;
  }
  // A modal window (the status window, the selection dialog) blocks every
  // window but its own: the help opens over it, as its child, so that it
  // stands in front and can be scrolled and closed.
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = main_;
  THelpWindow* window = help_.data();
  if (window == nullptr) {
    window = new THelpWindow(owner);
    help_ = window;
  } else if (window->parentWidget() != owner) {
    window->hide();
    window->setParent(owner, window->windowFlags());
  }
  window->ShowTopic(topic);
  window->show();
  window->raise();
  window->activateWindow();
}

bool THelpKeyHandler::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_F1) {
      const auto m = k->modifiers();
      HelpKey((m & Qt::ControlModifier) && (m & Qt::ShiftModifier));
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vx::ui
