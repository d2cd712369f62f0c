// "Whole Messages" in the real main window: the folder file read again with
// one row per live message, the deleted rows as before, exports of whole
// messages, the box remembered across runs and put back when a read fails.

#include <QApplication>
#include <QSettings>
#include <QTest>

#include <algorithm>
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
#include "support/NestedHeaderMail.h"

namespace {

namespace stdfs = std::filesystem;
using namespace fixture;
namespace support = corvane::testsupport;

std::string g_folder;

// The texts of the messages that give a row.
std::vector<std::string> ListedTexts() {
    std::vector<std::string> texts;
    for (const auto& mail : support::NestedHeaderMails())
        if (mail.HeaderBlocks > 0) texts.push_back(mail.Text);
    std::sort(texts.begin(), texts.end());
    return texts;
}

class TestWholeMessages : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMain> w;
    QString settings;
    std::string dbx;
    QStringList errors;
    int splitRows = 0;

    std::unique_ptr<TfrmMain> NewWindow() {
        auto window = std::make_unique<TfrmMain>();
        window->Settings.File = settings;
        window->LoadSettings();
        return window;
    }

    void ClickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(5, 8)); }

    // The message texts of the live rows, sorted.
    std::vector<std::string> LiveTexts() const {
        std::vector<std::string> texts;
        for (int row = 0; row < RowCount(*w); ++row) {
            const TEmail& e = w->Session.Emails()[static_cast<std::size_t>(Text(*w, row, corvane::session::ColItemNum).toInt())];
            if (e.Deleted == 0) texts.push_back(corvane::mail::ReadMessageText(e));
        }
        std::sort(texts.begin(), texts.end());
        return texts;
    }

    TEmailArray DeletedRecords() const {
        TEmailArray deleted;
        std::copy_if(w->Session.Emails().begin(), w->Session.Emails().end(), std::back_inserter(deleted), [](const TEmail& e) { return e.Deleted != 0; });
        return deleted;
    }

private slots:
    void init() {
        settings = QString::fromStdString(g_folder + "/settings.ini");
        QFile::remove(settings);
        dbx = g_folder + "/Nested.dbx";
        support::NestedHeaderFolder().Save(dbx);
        errors.clear();
        TCorvaneApplication::ErrorBoxHook = [this](const QString& text) { errors << text; };
        w = NewWindow();
        w->show();
        w->loadDbxFile(dbx);
        splitRows = RowCount(*w);
    }

    void cleanup() {
        w.reset();
        TCorvaneApplication::ErrorBoxHook = nullptr;
    }

    void theBoxSitsInTheSettingsUntickedAtFirst() {
        QCOMPARE(w->findChild<QCheckBox*>("cbwholemessages"), w->cbwholemessages);
        QCOMPARE(w->cbwholemessages->text(), QString("Whole Messages"));
        QCOMPARE(w->cbwholemessages->parentWidget(), w->GroupBox1);
        QVERIFY(w->GroupBox1->contentsRect().contains(w->cbwholemessages->geometry()));
        QVERIFY(w->GroupBox1->contentsRect().contains(w->cbdeletedemails->geometry()));
        QVERIFY(!w->cbwholemessages->geometry().intersects(w->cbdeletedemails->geometry()));
        QVERIFY(!w->cbwholemessages->geometry().intersects(w->cbdecodetexts->geometry()));
        QVERIFY(!w->cbwholemessages->isChecked());
    }

    void tickingReadsTheFileAgainWithOneRowPerMessage() {
        QVERIFY(splitRows > static_cast<int>(ListedTexts().size()));  // forwards and digests split
        ClickBox(w->cbwholemessages);
        QVERIFY(w->cbwholemessages->isChecked());
        QCOMPARE(LiveTexts(), ListedTexts());
        ClickBox(w->cbwholemessages);
        QCOMPARE(RowCount(*w), splitRows);
        QVERIFY(errors.isEmpty());
    }

    void theDeletedRowsStayAsTheyWere() {
        ClickBox(w->cbdeletedemails);
        const TEmailArray deleted = DeletedRecords();
        QVERIFY(deleted.size() > 3);  // three deleted messages, two of them split
        ClickBox(w->cbwholemessages);
        QCOMPARE(DeletedRecords(), deleted);
        QCOMPARE(LiveTexts(), ListedTexts());
    }

    void exportsWriteWholeMessages() {
        ClickBox(w->cbwholemessages);
        w->sbSelectAllClick();
        const std::string out = NewFolder("export");
        w->ChooseExportFolder = [&out](const std::string&, const std::string&, bool) { return out; };
        w->InformationBoxHook = [](const QString&) {};
        w->sbSaveEmailClick();
        std::vector<std::string> written;
        for (std::size_t n = 0; stdfs::exists(corvane::mail::ExportFileName(out, n)); ++n)
            written.push_back(ReadAll(corvane::mail::ExportFileName(out, n)));
        std::sort(written.begin(), written.end());
        QVERIFY(written == ListedTexts());

        const QString mbox = QString::fromStdString(out + "/whole.mbox");
        w->ChooseMboxFile = [&mbox] { return mbox; };
        w->mnuExportMboxClick();
        const std::string box = ReadAll(mbox.toStdString());
        // The digest's last part, which a split list gives a row of its own.
        QVERIFY(box.find("Under glass, I hope.\n\n--===============0457--\n") != std::string::npos);
        QVERIFY(errors.isEmpty());
    }

    void theBoxIsRememberedAcrossRuns() {
        ClickBox(w->cbwholemessages);
        QVERIFY(QSettings(settings, QSettings::IniFormat).value("Settings/WholeMessages").toBool());
        w.reset();
        w = NewWindow();
        QVERIFY(w->cbwholemessages->isChecked());
        QVERIFY(!w->cbdecodetexts->isChecked());
        w->loadDbxFile(dbx);
        QCOMPARE(LiveTexts(), ListedTexts());
        ClickBox(w->cbwholemessages);
        w.reset();
        w = NewWindow();
        QVERIFY(!w->cbwholemessages->isChecked());
    }

    void aFailedReadPutsTheBoxBack() {
        stdfs::remove(dbx);
        ClickBox(w->cbwholemessages);
        QCOMPARE(errors.size(), 1);
        QVERIFY(!w->cbwholemessages->isChecked());
        QVERIFY(!QSettings(settings, QSettings::IniFormat).value("Settings/WholeMessages").toBool());
        QCOMPARE(RowCount(*w), splitRows);
    }
};

}  // namespace

int main(int argc, char** argv) { return RunWindowTest<TestWholeMessages>(argc, argv, "corvane-whole", g_folder); }

#include "tst_wholemessages.moc"
