#include "helpwindow.h"

#include <QTextBrowser>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

// The pages live in a static library: nothing references their initialiser, so pull it in.
static void LoadHelpResources() {
    Q_INIT_RESOURCE(help);
}

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_browser(new QTextBrowser(this)) {
    LoadHelpResources();
    setObjectName(u"frmAjuda"_s);
    setWindowTitle(u"Ajuda"_s);
    m_browser->setObjectName(u"txbAjuda"_s);
    m_browser->setOpenExternalLinks(false);
    m_browser->setSearchPaths({u":/help"_s});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(760, 640);
}

QString HelpWindow::PageOf(int context) {
    switch (context) {
    case 12409400: // accounting parameters
        return u"qrc:/help/ger09400.html"_s;
    case 12409410: // the bulk registration, a section of the same page
        return u"qrc:/help/ger09400.html#cadauto"_s;
    default:
        return {};
    }
}

bool HelpWindow::ShowContext(int context) {
    const QString page = PageOf(context);
    m_browser->setSource(QUrl(page.isEmpty() ? u"qrc:/help/ger09400.html"_s : page));
    setWindowTitle(m_browser->documentTitle().isEmpty() ? u"Ajuda"_s : m_browser->documentTitle());
    show();
    raise();
    activateWindow();
    return !page.isEmpty();
}

QString HelpWindow::CurrentSource() const {
    return m_browser->source().toString();
}
