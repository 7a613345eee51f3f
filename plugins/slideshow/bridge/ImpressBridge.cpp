// pixkey-impress-bridge: the Slideshow plug-in's link to LibreOffice Impress.
//
// Usage: pixkey-impress-bridge PIPE_NAME
//
// Reads one request a line on standard input and writes one answer a line on standard output (the
// protocol is described in SlideshowProtocol.h). Every request connects first, over the private
// local pipe PIPE_NAME (uno:pipe,name=PIPE_NAME;urp;StarOffice.ComponentContext), when no live
// connection exists. The UNO code lives in this process, apart from the host program: a UNO call
// can crash on an unexpected type or block for as long as the office shows a modal dialog, and the
// plug-in kills and restarts this program when it stops answering.
//
// Ends on end of input, on "quit", and when the thread that started it goes away.

#include "SlideshowProtocol.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/XExporter.hpp>
#include <com/sun/star/document/XFilter.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/presentation/XPresentation2.hpp>
#include <com/sun/star/presentation/XPresentationSupplier.hpp>
#include <com/sun/star/presentation/XSlideShowController.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifyBroadcaster.hpp>
#include <com/sun/star/util/XModifyListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace com::sun::star;
using rtl::OUString;
using uno::Reference;
using uno::UNO_QUERY;

namespace {

namespace proto = slideshow::protocol;

std::string toUtf8(const OUString &text)
{
    return std::string(rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr());
}

OUString fromUtf8(const std::string &text)
{
    return OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

// A failure that ends a request with an "err" answer.
struct Failure {
    std::string message;
};

// Counts the modifications a document reports; thumbnails made before a change are stale.
class ModifyCounter : public cppu::WeakImplHelper1<util::XModifyListener> {
public:
    void SAL_CALL modified(const lang::EventObject &) override { ++m_count; }
    void SAL_CALL disposing(const lang::EventObject &) override {}
    long count() const { return m_count.load(); }

private:
    std::atomic<long> m_count{0};
};

// One presentation document seen on the desktop, with the number this program gave it.
struct Document {
    Reference<uno::XInterface> identity; // the normalised interface, compared for identity
    Reference<lang::XComponent> component;
    long id = 0;
    rtl::Reference<ModifyCounter> changes;
};

class Bridge {
public:
    explicit Bridge(std::string pipeName) : m_pipeName(std::move(pipeName)) {}

    // Answers one request line (without its line end); the answer has no line end either.
    std::string handle(const std::string &line);

private:
    bool connect();
    void disconnect();
    // The presentation the keys work on: the one whose show runs, else the desktop's current
    // component when it is a presentation, else the first presentation found. Null when none is
    // open. `count` receives the number of open presentations.
    Document *activePresentation(int *count = nullptr);
    Document *remember(const Reference<lang::XComponent> &component);
    Document *documentById(long id);
    Reference<presentation::XPresentation2> presentationOf(const Document &document);
    Reference<presentation::XSlideShowController> runningController(const Document &document);

    std::string state();
    std::string exportPage(const std::vector<std::string> &fields);
    std::string navigate(const std::vector<std::string> &fields);
    std::string open(const std::vector<std::string> &fields);
    std::string close(const std::vector<std::string> &fields);

    std::string m_pipeName;
    Reference<uno::XComponentContext> m_local;
    Reference<uno::XComponentContext> m_remote;
    Reference<frame::XDesktop2> m_desktop;
    std::vector<Document> m_documents;
    long m_nextId = 1;
};

// The pipe is a socket in /tmp that the office creates with the user's identity. One that another
// user made under the same name would see every request, so it is refused.
bool pipeIsOurs(const std::string &pipeName, std::string *why)
{
    const std::string path = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_" + pipeName;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        *why = "no office listens on pipe " + pipeName;
        return false;
    }
    if (!S_ISSOCK(info.st_mode) || info.st_uid != getuid()) {
        *why = path + " is not a socket of this user";
        return false;
    }
    return true;
}

bool Bridge::connect()
{
    if (m_desktop.is())
        return true;
    std::string why;
    if (!pipeIsOurs(m_pipeName, &why))
        throw Failure{why};
    if (!m_local.is())
        m_local = cppu::defaultBootstrap_InitialComponentContext();
    Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(m_local);
    const OUString url = "uno:pipe,name=" + fromUtf8(m_pipeName) + ";urp;StarOffice.ComponentContext";
    m_remote.set(resolver->resolve(url), UNO_QUERY);
    if (!m_remote.is())
        throw Failure{"the office gave no component context"};
    m_desktop = frame::Desktop::create(m_remote);
    m_documents.clear();
    return true;
}

void Bridge::disconnect()
{
    m_documents.clear();
    m_desktop.clear();
    m_remote.clear();
}

Document *Bridge::remember(const Reference<lang::XComponent> &component)
{
    Reference<uno::XInterface> identity(component, UNO_QUERY);
    for (Document &document : m_documents)
        if (document.identity == identity)
            return &document;
    Document document;
    document.identity = identity;
    document.component = component;
    document.id = m_nextId++;
    document.changes = new ModifyCounter;
    Reference<util::XModifyBroadcaster> broadcaster(component, UNO_QUERY);
    if (broadcaster.is())
        broadcaster->addModifyListener(Reference<util::XModifyListener>(document.changes.get()));
    m_documents.push_back(document);
    return &m_documents.back();
}

Document *Bridge::documentById(long id)
{
    for (Document &document : m_documents)
        if (document.id == id)
            return &document;
    return nullptr;
}

Reference<presentation::XPresentation2> Bridge::presentationOf(const Document &document)
{
    Reference<presentation::XPresentationSupplier> supplier(document.component, UNO_QUERY);
    if (!supplier.is())
        return {};
    return Reference<presentation::XPresentation2>(supplier->getPresentation(), UNO_QUERY);
}

Reference<presentation::XSlideShowController> Bridge::runningController(const Document &document)
{
    Reference<presentation::XPresentation2> show = presentationOf(document);
    if (!show.is() || !show->isRunning())
        return {};
    return show->getController();
}

Document *Bridge::activePresentation(int *count)
{
    Reference<container::XEnumerationAccess> components(m_desktop->getComponents(), UNO_QUERY);
    std::vector<Reference<lang::XComponent>> found;
    if (components.is()) {
        Reference<container::XEnumeration> items = components->createEnumeration();
        while (items.is() && items->hasMoreElements()) {
            Reference<presentation::XPresentationSupplier> supplier(items->nextElement(), UNO_QUERY);
            if (supplier.is())
                found.emplace_back(supplier, UNO_QUERY);
        }
    }
    // Forget documents that were closed.
    std::vector<Document> kept;
    for (Document &document : m_documents)
        for (const auto &component : found)
            if (document.identity == Reference<uno::XInterface>(component, UNO_QUERY)) {
                kept.push_back(document);
                break;
            }
    m_documents.swap(kept);

    if (count)
        *count = static_cast<int>(found.size());
    if (found.empty())
        return nullptr;
    for (const auto &component : found) {
        Reference<presentation::XPresentationSupplier> supplier(component, UNO_QUERY);
        Reference<presentation::XPresentation2> show(supplier->getPresentation(), UNO_QUERY);
        if (show.is() && show->isRunning())
            return remember(component);
    }
    Reference<lang::XComponent> current = m_desktop->getCurrentComponent();
    Reference<uno::XInterface> currentIdentity(current, UNO_QUERY);
    if (currentIdentity.is())
        for (const auto &component : found)
            if (Reference<uno::XInterface>(component, UNO_QUERY) == currentIdentity)
                return remember(component);
    return remember(found.front());
}

std::string Bridge::state()
{
    proto::State state;
    try {
        connect();
    } catch (const Failure &) {
        return proto::formatState(state);
    } catch (const uno::Exception &) {
        disconnect();
        return proto::formatState(state);
    }
    try {
        state.stage = 1;
        Document *document = activePresentation();
        if (!document)
            return proto::formatState(state);
        state.document = document->id;
        state.changes = document->changes->count();
        Reference<frame::XTitle> title(document->component, UNO_QUERY);
        if (title.is())
            state.name = toUtf8(title->getTitle());
        Reference<drawing::XDrawPagesSupplier> pagesSupplier(document->component, UNO_QUERY);
        if (!pagesSupplier.is())
            return proto::formatState(state);
        Reference<drawing::XDrawPages> pages = pagesSupplier->getDrawPages();
        state.count = pages->getCount();
        if (state.count > 0) {
            Reference<beans::XPropertySet> page(pages->getByIndex(0), UNO_QUERY);
            if (page.is()) {
                sal_Int32 width = 0, height = 0;
                page->getPropertyValue("Width") >>= width;
                page->getPropertyValue("Height") >>= height;
                state.width = width;
                state.height = height;
            }
        }
        state.stage = 2;
        Reference<presentation::XSlideShowController> controller = runningController(*document);
        if (!controller.is())
            return proto::formatState(state);
        state.stage = 4;
        const sal_Int32 index = controller->getCurrentSlideIndex();
        if (index < 0)
            return proto::formatState(state);
        state.current = index + 1;
        state.stage = 3;
    } catch (const lang::DisposedException &) {
        disconnect();
    } catch (const uno::Exception &) {
    }
    return proto::formatState(state);
}

std::string Bridge::exportPage(const std::vector<std::string> &fields)
{
    // export DOCUMENT NUMBER WIDTH HEIGHT PATH
    long id = 0, number = 0, width = 0, height = 0;
    if (fields.size() != 6 || !proto::parseNumber(fields[1], &id) || !proto::parseNumber(fields[2], &number)
        || !proto::parseNumber(fields[3], &width) || !proto::parseNumber(fields[4], &height) || width < 1
        || height < 1 || width > 4096 || height > 4096 || fields[5].empty() || fields[5][0] != '/')
        throw Failure{"usage: export DOCUMENT NUMBER WIDTH HEIGHT /PATH"};
    connect();
    Document *document = documentById(id);
    if (!document)
        throw Failure{"no such document"};
    Reference<drawing::XDrawPagesSupplier> pagesSupplier(document->component, UNO_QUERY);
    if (!pagesSupplier.is())
        throw Failure{"not a drawing document"};
    Reference<drawing::XDrawPages> pages = pagesSupplier->getDrawPages();
    if (number < 1 || number > pages->getCount())
        throw Failure{"no such slide"};
    Reference<lang::XComponent> page(pages->getByIndex(static_cast<sal_Int32>(number - 1)), UNO_QUERY);

    Reference<lang::XMultiComponentFactory> factory = m_remote->getServiceManager();
    Reference<uno::XInterface> filter =
        factory->createInstanceWithContext("com.sun.star.drawing.GraphicExportFilter", m_remote);
    Reference<document::XExporter> exporter(filter, UNO_QUERY);
    Reference<document::XFilter> writer(filter, UNO_QUERY);
    if (!exporter.is() || !writer.is())
        throw Failure{"no graphic export filter"};
    exporter->setSourceDocument(page);

    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(fromUtf8(fields[5]), url) != osl::FileBase::E_None)
        throw Failure{"bad path"};
    uno::Sequence<beans::PropertyValue> size(2);
    size[0].Name = "PixelWidth";
    size[0].Value <<= static_cast<sal_Int32>(width);
    size[1].Name = "PixelHeight";
    size[1].Value <<= static_cast<sal_Int32>(height);
    uno::Sequence<beans::PropertyValue> arguments(3);
    arguments[0].Name = "URL";
    arguments[0].Value <<= url;
    arguments[1].Name = "MediaType";
    arguments[1].Value <<= OUString("image/png");
    arguments[2].Name = "FilterData";
    arguments[2].Value <<= size;
    if (!writer->filter(arguments))
        throw Failure{"export failed"};
    return "ok";
}

std::string Bridge::navigate(const std::vector<std::string> &fields)
{
    connect();
    int count = 0;
    Document *document = activePresentation(&count);
    const std::string &verb = fields[0];
    if (verb == "presentations")
        return "ok\t" + std::to_string(count);
    if (!document)
        throw Failure{"no presentation is open"};
    if (verb == "start") {
        Reference<presentation::XPresentation2> show = presentationOf(*document);
        if (!show.is())
            throw Failure{"the document has no slide show"};
        show->start();
        return "ok";
    }
    Reference<presentation::XSlideShowController> controller = runningController(*document);
    if (!controller.is())
        throw Failure{"no slide show runs"};
    if (verb == "show")
        return "ok\t" + std::to_string(controller->getCurrentSlideIndex() + 1) + "\t"
               + std::to_string(controller->getSlideCount());
    if (verb == "next")
        controller->gotoNextSlide();
    else if (verb == "previous")
        controller->gotoPreviousSlide();
    else if (verb == "first")
        controller->gotoFirstSlide();
    else if (verb == "goto") {
        long number = 0;
        if (fields.size() != 2 || !proto::parseNumber(fields[1], &number))
            throw Failure{"usage: goto NUMBER"};
        if (number < 1 || number > controller->getSlideCount())
            throw Failure{"no such slide"};
        controller->gotoSlideIndex(static_cast<sal_Int32>(number - 1));
    } else if (verb == "end") {
        presentationOf(*document)->end();
    }
    return "ok";
}

std::string Bridge::open(const std::vector<std::string> &fields)
{
    // open /PATH: loads a document into the office (used by scripts and tests).
    if (fields.size() != 2 || fields[1].empty() || fields[1][0] != '/')
        throw Failure{"usage: open /PATH"};
    connect();
    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(fromUtf8(fields[1]), url) != osl::FileBase::E_None)
        throw Failure{"bad path"};
    Reference<frame::XComponentLoader> loader(m_desktop, UNO_QUERY);
    Reference<lang::XComponent> component =
        loader->loadComponentFromURL(url, "_blank", 0, uno::Sequence<beans::PropertyValue>());
    if (!component.is())
        throw Failure{"cannot open " + fields[1]};
    return "ok\t" + std::to_string(remember(component)->id);
}

std::string Bridge::close(const std::vector<std::string> &fields)
{
    // close DOCUMENT: closes a presentation without asking to save it.
    long id = 0;
    if (fields.size() != 2 || !proto::parseNumber(fields[1], &id))
        throw Failure{"usage: close DOCUMENT"};
    connect();
    activePresentation();
    Document *document = documentById(id);
    if (!document)
        throw Failure{"no such document"};
    Reference<util::XCloseable> closeable(document->component, UNO_QUERY);
    if (closeable.is())
        closeable->close(true);
    else
        document->component->dispose();
    return "ok";
}

std::string Bridge::handle(const std::string &line)
{
    const std::vector<std::string> fields = proto::split(line);
    if (fields.empty())
        return "err empty request";
    const std::string &verb = fields[0];
    try {
        if (verb == "hello")
            return std::string("ok\t") + proto::kGreeting;
        if (verb == "state")
            return state();
        if (verb == "export")
            return exportPage(fields);
        if (verb == "open")
            return open(fields);
        if (verb == "close")
            return close(fields);
        if (verb == "presentations" || verb == "start" || verb == "show" || verb == "next" || verb == "previous"
            || verb == "first" || verb == "goto" || verb == "end")
            return navigate(fields);
        return "err unknown request " + proto::clean(verb);
    } catch (const Failure &failure) {
        return "err " + proto::clean(failure.message);
    } catch (const lang::DisposedException &error) {
        disconnect();
        return "err disconnected: " + proto::clean(toUtf8(error.Message));
    } catch (const uno::Exception &error) {
        // A broken bridge shows as a RuntimeException; the next request connects afresh.
        if (error.Message.indexOf("Binary URP bridge") >= 0)
            disconnect();
        return "err " + proto::clean(toUtf8(error.Message));
    } catch (const std::exception &error) {
        return "err " + proto::clean(error.what());
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 || !argv[1][0]) {
        std::fprintf(stderr, "usage: pixkey-impress-bridge PIPE_NAME\n");
        return 64;
    }
    // Stop with the thread that started this program, even if it could not say goodbye.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 0;
    // The office's interfaces beyond the runtime's own types; without them the first remote call
    // aborts the client.
    setenv("URE_MORE_TYPES", "file:///usr/lib/libreoffice/program/types/offapi.rdb", 0);
    std::signal(SIGPIPE, SIG_IGN);

    Bridge bridge(argv[1]);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.size() > slideshow::protocol::kMaxLine) {
            std::cout << "err request too long" << std::endl;
            continue;
        }
        if (line == "quit")
            break;
        std::cout << bridge.handle(line) << std::endl;
        if (!std::cout)
            break;
    }
    return 0;
}
