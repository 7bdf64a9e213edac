// Claude Code's token set in the macOS keychain: a generic-password item, only ever read. Its
// service name is "Claude Code-credentials", or with CLAUDE_CONFIG_DIR set a hashed variant,
// which is tried first (PlanRules::keychainServiceNames).
#include "credentialstore.h"
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

// The system's words for a keychain status.
QString statusText(OSStatus status)
{
    const CFOwner<CFStringRef> message(SecCopyErrorMessageString(status, nullptr));
    if (!message.get())
        return QStringLiteral("Keychain error %1").arg(int(status));
    return QString::fromCFString(message.get());
}

// A prompt the user dismissed or refused, or a keychain that may not ask now.
bool isDenial(OSStatus status)
{
    return status == errSecAuthFailed || status == errSecUserCanceled || status == errSecInteractionNotAllowed;
}

class KeychainCredentialStore final : public CredentialStore
{
public:
    explicit KeychainCredentialStore(QStringList serviceNames) : m_serviceNames(std::move(serviceNames)) { }

    // The first name that has an item; a denied or failed read ends the search. The call may
    // wait on a keychain prompt; it runs on the fetch's own thread, which quitting never waits for.
    CredentialRead read() const override
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
            if (isDenial(status))
                return {CredentialRead::Outcome::denied, {}, statusText(status)};
            if (status != errSecSuccess)
                return {CredentialRead::Outcome::failed, {}, statusText(status)};
            if (!result || CFGetTypeID(result) != CFDataGetTypeID())
                return {CredentialRead::Outcome::failed, {}, QStringLiteral("The keychain item holds no data")};
            const auto data = static_cast<CFDataRef>(result);
            return {CredentialRead::Outcome::found,
                    QByteArray(reinterpret_cast<const char *>(CFDataGetBytePtr(data)), CFDataGetLength(data)),
                    {}};
        }
        return {CredentialRead::Outcome::missing, {}, {}};
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
