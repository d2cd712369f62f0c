// "Decode Texts" in the real main window: the list's texts, the preview, the
// keyword filter and the sort with the box ticked and unticked, the box
// remembered across runs, and exports that stay raw.

#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "MessageListFixture.h"
#include "emailexport/emailexport.h"
#include "WindowTestMain.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "support/DbxFixture.h"

namespace {

namespace stdfs = std::filesystem;
using namespace fixture;

std::string g_folder;

// Record 0: encoded words, a folded subject, a quoted-printable body and an
// attachment. Record 1: plain ASCII. Record 2: a base64 body in KOI8-R.
const char* const kEncoded =
    "From: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <j@fenwick.example>\r\n"
    "To: =?utf-8?B?0J7Qu9GM0LPQsA==?= <olga@fenwick.example>\r\n"
    "Subject: =?iso-8859-1?Q?Gr=FC=DFe?= and the\r\n\tbest wishes\r\n"
    "Date: Tue, 6 May 2003 11:30:00 +0200\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Bis m=6Frgen, Gr=FC=DFe aus M=FCnchen.\r\n"
    "--b\r\n"
    "Content-Type: application/pdf; name=\"plan.pdf\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQFBgc=\r\n"
    "--b--\r\n";
const char* const kPlain =
    "From: ann@fenwick.example\r\nTo: bob@fenwick.example\r\nSubject: Agenda\r\n"
    "Date: Mon, 5 May 2003 10:00:00 +0100\r\n\r\nSee you at nine.\r\n";
const char* const kKoi8 =
    "From: olga@fenwick.example\r\nTo: ivo@fenwick.example\r\nSubject: =?koi8-r?B?8NLJ18XU?=\r\n"
    "Date: Wed, 7 May 2003 08:00:00 +0300\r\nContent-Type: text/plain; charset=koi8-r\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n8NLJ18XUIM3J0g==\r\n";

std::string WriteFolderFile(const std::string& name) {
    corvane::testsupport::TDbxWriter dbx;
    dbx.AddMessage(kEncoded);
    dbx.AddMessage(kPlain);
    dbx.AddMessage(kKoi8);
    const std::string path = g_folder + "/" + name;
    dbx.Save(path);
    return path;
}

class TestDecodeTexts : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QString settings;
    std::string dbx;

    std::unique_ptr<TfrmMain> NewWindow() {
        auto window = std::make_unique<TfrmMain>();
        window->Settings.File = settings;
        window->LoadSettings();
        return window;
    }

    void ClickBox() { QTest::mouseClick(w->cbdecodetexts, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8)); }

    // The preview after a click on the row at `row` (the click's handler runs
    // from the event loop).
    QString Preview(int row) {
        ClickRow(*w, row);
        QCoreApplication::processEvents();
        return w->txtmsgbody->toPlainText();
    }

    void ApplyFilter(const QString& keyword) {
        w->txtFilter->setText(keyword);
        w->btnApplyFilterClick();
    }

private slots:
    void init() {
        settings = QString::fromStdString(g_folder + "/settings.ini");
        QFile::remove(settings);
        dbx = WriteFolderFile("Inbox.dbx");
        w = NewWindow();
        w->show();
        w->loadDbxFile(dbx);
        QCOMPARE(RowCount(*w), 3);
    }

    void cleanup() { w.reset(); }

    void theBoxSitsUnderTheDeletedBoxUntickedAtFirst() {
        QCOMPARE(w->cbdecodetexts->objectName(), QString("cbdecodetexts"));
        QCOMPARE(w->cbdecodetexts->text(), QString("Decode Texts"));
        QCOMPARE(w->cbdecodetexts->parentWidget(), w->GroupBox1);
        QVERIFY(w->cbdecodetexts->geometry().top() > w->cbdeletedemails->geometry().bottom());
        QVERIFY(w->GroupBox1->contentsRect().contains(w->cbdecodetexts->geometry()));
        QVERIFY(!w->cbdecodetexts->isChecked());
    }

    void theListShowsDecodedTextsWhileTicked() {
        const QStringList raw = {" =?iso-8859-1?Q?Gr=FC=DFe?= and the", " Agenda", " =?koi8-r?B?8NLJ18XU?="};
        QCOMPARE(Column(*w, corvane::session::ColSubject), raw);
        ClickBox();
        QVERIFY(w->cbdecodetexts->isChecked());
        QCOMPARE(Column(*w, corvane::session::ColSubject), QStringList({"Grüße and the best wishes", "Agenda", "Привет"}));
        QCOMPARE(Text(*w, 0, corvane::session::ColFrom), QString("Jürgen Müller <j@fenwick.example>"));
        QCOMPARE(Text(*w, 0, corvane::session::ColTo), QString("Ольга <olga@fenwick.example>"));
        QCOMPARE(Text(*w, 0, corvane::session::ColDate), QString("2003-05-06T11:30:00+02:00"));
        ClickBox();
        QCOMPARE(Column(*w, corvane::session::ColSubject), raw);
        QCOMPARE(Text(*w, 0, corvane::session::ColDate), QString(" Tue, 6 May 2003 11:30:00 +0200"));
    }

    void thePreviewShowsTheDecodedBodyAndTheAttachments() {
        const QString raw = Preview(0);
        QCOMPARE(raw, AsPreview(corvane::mail::ReadMessageBody(w->Session.Emails()[0])));
        QVERIFY(raw.contains("Bis m=6Frgen"));
        ClickBox();
        QCOMPARE(Preview(0),
                 QString("Bis morgen, Grüße aus München.\n\nAttachments:\n  plan.pdf  (application/pdf, 8 bytes)\n"));
        QCOMPARE(Preview(2), QString("Привет мир\n"));
        ClickBox();
        QCOMPARE(Preview(0), raw);
    }

    void theFilterSearchesDecodedBodiesWhileTicked() {
        ApplyFilter("morgen");
        QCOMPARE(RowCount(*w), 0);  // the raw body holds "m=6Frgen"
        ClickBox();
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"0"}));
        w->btnClearFilterClick();
        ApplyFilter("МИР");  // upper case, UTF-8, in a base64 body
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"2"}));
        w->btnClearFilterClick();
        ApplyFilter("nine");  // the raw stretch still counts
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"1"}));
        ClickBox();
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"1"}));
    }

    void sortingSortsTheShownTexts() {
        ClickBox();
        ClickHeading(*w, corvane::session::ColSubject);  // another column: descending as at start
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"2", "0", "1"}));
        ClickHeading(*w, corvane::session::ColSubject);  // the same column again: ascending
        QCOMPARE(Column(*w, corvane::session::ColSubject), QStringList({"Agenda", "Grüße and the best wishes", "Привет"}));
        ClickBox();
        ClickHeading(*w, corvane::session::ColSubject);  // descending, by the raw texts
        QCOMPARE(Column(*w, corvane::session::ColItemNum), QStringList({"1", "2", "0"}));
    }

    void theBoxIsRememberedAcrossRuns() {
        ClickBox();
        w.reset();
        w = NewWindow();
        QVERIFY(w->cbdecodetexts->isChecked());
        w->loadDbxFile(dbx);
        QCOMPARE(Text(*w, 2, corvane::session::ColSubject), QString("Привет"));
        ClickBox();
        w.reset();
        w = NewWindow();
        QVERIFY(!w->cbdecodetexts->isChecked());
    }

    void exportsStayRawWhileTicked() {
        ClickBox();
        Tick(*w, {0});
        const std::string out = NewFolder("export");
        w->ChooseExportFolder = [&out](const std::string&, const std::string&, bool) { return out; };
        w->InformationBoxHook = [](const QString&) {};
        w->sbSaveEmailClick();
        QCOMPARE(ReadAll(corvane::mail::ExportFileName(out, 0)), corvane::mail::ReadMessageText(w->Session.Emails()[0]));
        QVERIFY(ReadAll(corvane::mail::ExportFileName(out, 0)).find("Gr=FC=DFe aus") != std::string::npos);
    }
};

}  // namespace

int main(int argc, char** argv) { return RunWindowTest<TestDecodeTexts>(argc, argv, "corvane-decode", g_folder); }

#include "tst_decodetexts.moc"
