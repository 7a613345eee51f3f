#include "PluginLibrary.h"

#include "LoadedLibrary.h"
#include "PluginInstance.h"

#include <algorithm>

namespace pixkey {

namespace {

QString infoText(PluginCallGuard &guard, int code)
{
    const auto text = guard.GetInfoText(code);
    return text ? QString::fromUtf8(text->data(), qsizetype(text->size())) : QString();
}

} // namespace

PluginLibrary::PluginLibrary(QString fullPath) : m_fullPath(std::move(fullPath)) {}

PluginLibrary::~PluginLibrary()
{
    unload();
}

bool PluginLibrary::load(QString *error)
{
    if (m_binding)
        return true;
    std::string why;
    m_binding = LoadedLibrary::load(m_fullPath.toStdString(), &why);
    if (!m_binding) {
        if (error)
            *error = QString::fromStdString(why);
        return false;
    }
    m_describing.Create(m_binding, 0);
    readInformation();
    if (hasLibraryProperties())
        for (const auto &[propertyName, value] : m_propertiesSet)
            m_describing.SetProperty(propertyName, value);
    return true;
}

PluginFunction &PluginLibrary::functionRecord(int number)
{
    while (int(m_functions.size()) < number)
        m_functions.push_back(std::make_unique<PluginFunction>(*this, int(m_functions.size()) + 1));
    return *m_functions[std::size_t(number - 1)];
}

void PluginLibrary::readInformation()
{
    identifier = infoText(m_describing, PKX_INFO_IDENTIFIER);
    name = infoText(m_describing, PKX_INFO_NAME);
    description = infoText(m_describing, PKX_INFO_DESCRIPTION);
    author = infoText(m_describing, PKX_INFO_AUTHOR);
    email = infoText(m_describing, PKX_INFO_EMAIL);
    web = infoText(m_describing, PKX_INFO_WEB);
    applicationTitle = infoText(m_describing, PKX_INFO_APPLICATION_TITLE);
    m_libraryProperties = m_describing.GetInfo(PKX_INFO_HAS_LIBRARY_PROPERTIES);
    applications.clear();
    const QString programs = infoText(m_describing, PKX_INFO_APPLICATIONS).left(256);
    for (const QString &program : programs.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!program.trimmed().isEmpty())
            applications << program.trimmed();

    const std::intptr_t count = m_describing.GetInfo(PKX_INFO_FUNCTION_COUNT);
    // A plug-in may answer anything; more functions than this are not meant seriously.
    const int n = int(std::clamp<std::intptr_t>(count, 1, 64));
    if (n < 2) {
        PluginFunction &only = functionRecord(1);
        only.name = name.isEmpty() ? QStringLiteral("Undefined") : name;
        only.description = description;
        only.smallIcon = m_describing.GetInfoImage(PKX_INFO_SMALL_ICON);
        only.largeIcon = m_describing.GetInfoImage(PKX_INFO_LARGE_ICON);
        only.preview = m_describing.GetInfoImage(PKX_INFO_PREVIEW);
    } else {
        for (int f = 1; f <= n; ++f) {
            PluginFunction &record = functionRecord(f);
            PluginCallGuard object;
            object.Create(m_binding, f);
            const QString functionName = infoText(object, PKX_INFO_NAME);
            record.name = functionName.isEmpty() ? QStringLiteral("Undefined") : functionName;
            record.description = infoText(object, PKX_INFO_DESCRIPTION);
            record.smallIcon = object.GetInfoImage(PKX_INFO_SMALL_ICON);
            record.largeIcon = object.GetInfoImage(PKX_INFO_LARGE_ICON);
            record.preview = object.GetInfoImage(PKX_INFO_PREVIEW);
            object.Delete();
            object.releaseLibrary();
        }
    }
    // Records beyond n (the library shrank since it was last loaded) are kept so that pointers to
    // them stay valid; `function` and `functionCount` offer only the first n.

    const std::intptr_t preferred = m_describing.GetInfo(PKX_INFO_DEFAULT_FUNCTION);
    m_defaultFunction = preferred <= 0 ? 1 : int(std::min<std::intptr_t>(n, preferred));
    smallIcon = m_describing.GetInfoImage(PKX_INFO_SMALL_ICON);
    largeIcon = m_describing.GetInfoImage(PKX_INFO_LARGE_ICON);
    preview = m_describing.GetInfoImage(PKX_INFO_PREVIEW);
    m_functionCount = n;
}

void PluginLibrary::unload()
{
    m_instances.clear();
    if (!m_binding)
        return;
    m_describing.Delete();
    m_describing.releaseLibrary();
    m_binding.reset();
}

bool PluginLibrary::inUse() const
{
    return std::any_of(m_instances.begin(), m_instances.end(),
                       [](const std::weak_ptr<InstanceHolder> &holder) { return !holder.expired(); });
}

PluginFunction *PluginLibrary::function(int number) const
{
    if (number < 1 || number > m_functionCount)
        return nullptr;
    return m_functions[std::size_t(number - 1)].get();
}

InstanceRef PluginLibrary::createInstance(PluginFunction &function, FaceSink &sink)
{
    if (&function.library() != this || !load())
        return nullptr;
    auto instance = std::make_unique<PluginInstance>(m_binding, function.number(), sink);
    instance->setFunction(&function);
    auto holder = std::make_shared<InstanceHolder>(std::move(instance));
    std::erase_if(m_instances, [](const std::weak_ptr<InstanceHolder> &h) { return h.expired(); });
    m_instances.push_back(holder);
    return holder;
}

bool PluginLibrary::GetProperty(int i, QString &propertyName, QString &value)
{
    if (!load())
        return false;
    std::string n, v;
    if (!m_describing.GetProperty(PKX_PROPERTY_LIBRARY_BASE + i, n, v))
        return false;
    propertyName = QString::fromStdString(n);
    value = QString::fromStdString(v);
    return true;
}

void PluginLibrary::SetProperty(const QString &propertyName, const QString &value)
{
    if (!load())
        return;
    const std::string n = propertyName.toStdString(), v = value.toStdString();
    m_describing.SetProperty(n, v);
    auto known = std::find_if(m_propertiesSet.begin(), m_propertiesSet.end(),
                              [&](const auto &property) { return property.first == n; });
    if (known != m_propertiesSet.end())
        known->second = v;
    else
        m_propertiesSet.emplace_back(n, v);
}

} // namespace pixkey
