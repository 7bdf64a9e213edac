// Claude Code's token set in the macOS keychain: a generic-password item read and updated in
// place, never created or deleted. Its service name is "Claude Code-credentials", or with
// CLAUDE_CONFIG_DIR set a hashed variant, which is tried first (PlanRules::keychainServiceNames).
#include "credentialstore.h"
#include "logging.h"
#include "planrules.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

namespace {

// Releases a Core Foundation object on every way out.
template<typename T>
class CFOwner
{
public:
    explicit CFOwner(T ref) : m_ref(ref) { }
    ~CFOwner()
    {
        if (m_ref)
            CFRelease(m_ref);
    }
    Q_DISABLE_COPY_MOVE(CFOwner)
    T get() const { return m_ref; }

private:
    T m_ref;
};

CFOwner<CFStringRef> cfString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return CFOwner<CFStringRef>(CFStringCreateWithBytes(kCFAllocatorDefault,
                                                        reinterpret_cast<const UInt8 *>(utf8.constData()),
                                                        utf8.size(), kCFStringEncodingUTF8, false));
}

CFOwner<CFDictionaryRef> dictionary(const void **keys, const void **values, CFIndex count)
{
    return CFOwner<CFDictionaryRef>(CFDictionaryCreate(kCFAllocatorDefault, keys, values, count,
                                                       &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks));
}

class KeychainCredentialStore final : public CredentialStore
{
public:
    explicit KeychainCredentialStore(QStringList serviceNames) : m_serviceNames(std::move(serviceNames)) { }

    // The first name that has an item; a denied or failed read ends the search.
    std::optional<QByteArray> read() const override
    {
        for (const QString &name : m_serviceNames) {
            const CFOwner<CFStringRef> service = cfString(name);
            const void *keys[] = {kSecClass, kSecAttrService, kSecReturnData, kSecMatchLimit};
            const void *values[] = {kSecClassGenericPassword, service.get(), kCFBooleanTrue, kSecMatchLimitOne};
            const CFOwner<CFDictionaryRef> query = dictionary(keys, values, 4);
            CFTypeRef result = nullptr;
            const OSStatus status = SecItemCopyMatching(query.get(), &result);
            const CFOwner<CFTypeRef> owned(result);
            if (status == errSecItemNotFound)
                continue;
            if (status != errSecSuccess || !result || CFGetTypeID(result) != CFDataGetTypeID()) {
                qCDebug(lcPlan) << "keychain read failed, status" << int(status);
                return std::nullopt;
            }
            const auto data = static_cast<CFDataRef>(result);
            return QByteArray(reinterpret_cast<const char *>(CFDataGetBytePtr(data)), CFDataGetLength(data));
        }
        return std::nullopt;
    }

    // SecItemUpdate only changes an item that matches; it never adds one. The first name that
    // has an item is the one read, so it is the one updated.
    bool replace(const QByteArray &bytes) override
    {
        const CFOwner<CFDataRef> data(CFDataCreate(kCFAllocatorDefault,
                                                   reinterpret_cast<const UInt8 *>(bytes.constData()),
                                                   bytes.size()));
        const void *updateKeys[] = {kSecValueData};
        const void *updateValues[] = {data.get()};
        const CFOwner<CFDictionaryRef> update = dictionary(updateKeys, updateValues, 1);
        for (const QString &name : m_serviceNames) {
            const CFOwner<CFStringRef> service = cfString(name);
            const void *queryKeys[] = {kSecClass, kSecAttrService};
            const void *queryValues[] = {kSecClassGenericPassword, service.get()};
            const CFOwner<CFDictionaryRef> query = dictionary(queryKeys, queryValues, 2);
            const OSStatus status = SecItemUpdate(query.get(), update.get());
            if (status == errSecItemNotFound)
                continue;
            if (status != errSecSuccess)
                qCDebug(lcPlan) << "keychain update failed, status" << int(status);
            return status == errSecSuccess;
        }
        return false;
    }

    QString location() const override
    {
        return QStringLiteral("the macOS keychain (\"%1\")").arg(m_serviceNames.constFirst());
    }

private:
    QStringList m_serviceNames;
};

} // namespace

std::shared_ptr<CredentialStore> systemCredentialStore(const QString &)
{
    return std::make_shared<KeychainCredentialStore>(
        PlanRules::keychainServiceNames(qEnvironmentVariable("CLAUDE_CONFIG_DIR")));
}
