#include "StorageServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <thread>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dulstruc.h>
#include <dcmtk/dcmnet/scpthrd.h>

#include "Log.h"

namespace orvix::node {
namespace {

// DIMSE status codes of the C-STORE response.
constexpr Uint16 kSuccess = 0x0000;
constexpr Uint16 kOutOfResources = 0xA700;
constexpr Uint16 kCannotUnderstand = 0xC000;

const char* const kFilmClasses[] = {UID_ComputedRadiographyImageStorage, UID_DigitalXRayImageStorageForPresentation,
                                    UID_DigitalXRayImageStorageForProcessing, UID_SecondaryCaptureImageStorage};

const char* const kFilmSyntaxes[] = {
    UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax, UID_BigEndianExplicitTransferSyntax,
    UID_RLELosslessTransferSyntax,          UID_JPEGProcess1TransferSyntax,         UID_JPEGProcess2_4TransferSyntax,
    UID_JPEGProcess14TransferSyntax,        UID_JPEGProcess14SV1TransferSyntax,     UID_JPEGLSLosslessTransferSyntax,
    UID_JPEGLSLossyTransferSyntax,          UID_JPEG2000LosslessOnlyTransferSyntax, UID_JPEG2000TransferSyntax};

std::string trimmed(const OFString& text) {
    std::string s = text.c_str();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
}

// One association's provider. Made afresh for each association, on its own thread.
class FilmProvider : public DcmThreadSCP {
public:
    FilmProvider(const ServerSettings& settings, Spool& spool, const std::function<void(const std::string&)>& onStored)
        : settings_(settings), spool_(spool), onStored_(onStored) {}

protected:
    OFBool checkCallingAETitleAccepted(const OFString& callingAE) override {
        const std::string calling = trimmed(callingAE);
        if (settings_.allow.empty() ||
            std::find(settings_.allow.begin(), settings_.allow.end(), calling) != settings_.allow.end())
            return OFTrue;
        Log(Level::Warning) << "refused an association from " << calling << " at " << getPeerIP()
                            << ": calling AE title not allowed";
        return OFFalse;
    }

    void notifyAssociationAcknowledge() override {
        Log(Level::Info) << "association from " << trimmed(getPeerAETitle()) << " at " << getPeerIP();
    }

    // The base class logs through DCMTK's logger; the node logs its own lines.
    void notifyAssociationRequest(const T_ASC_Parameters&, DcmSCPActionType&) override {}

    OFCondition handleIncomingCommand(T_DIMSE_Message* message, const DcmPresentationContextInfo& context) override {
        if (message->CommandField != DIMSE_C_STORE_RQ) return DcmThreadSCP::handleIncomingCommand(message, context);
        T_DIMSE_C_StoreRQ& request = message->msg.CStoreRQ;
        DcmDataset* received = nullptr;
        OFCondition cond = receiveSTORERequest(request, context.presentationContextID, received);
        if (cond.bad()) {
            delete received;
            Log(Level::Error) << "receiving " << request.AffectedSOPInstanceUID << " from " << trimmed(getPeerAETitle())
                              << " failed: " << cond.text();
            return cond;
        }
        const Uint16 status = store(request, received);
        delete received;
        return sendSTOREResponse(context.presentationContextID, request, status);
    }

private:
    Uint16 store(const T_DIMSE_C_StoreRQ& request, DcmDataset* received) {
        const std::string uid = request.AffectedSOPInstanceUID, calling = trimmed(getPeerAETitle());
        if (!isUid(uid)) {
            Log(Level::Warning) << "refused an instance from " << calling << ": '" << uid
                                << "' is not a SOP Instance UID";
            return kCannotUnderstand;
        }
        if (spool_.screened(uid)) {
            Log(Level::Info) << "received " << uid << " from " << calling << " again: screened before, not kept";
            return kSuccess;
        }
        const E_TransferSyntax xfer = received->getOriginalXfer();
        DcmFileFormat file(received, OFFalse);
        file.getMetaInfo()->putAndInsertString(DCM_SourceApplicationEntityTitle, calling.c_str());
        const Status saved = saveDicomDurably(file, xfer, spool_.film(uid));
        // The file format took the data set over; the caller must not free it again.
        file.getAndRemoveDataset();
        if (!saved) {
            Log(Level::Error) << "cannot keep " << uid << " from " << calling << ": " << saved.error().message;
            return kOutOfResources;
        }
        Log(Level::Info) << "received " << uid << " from " << calling << " ("
                         << dcmFindNameOfUID(request.AffectedSOPClassUID, "?") << ", " << DcmXfer(xfer).getXferName()
                         << ")";
        onStored_(uid);
        return kSuccess;
    }

    const ServerSettings& settings_;
    Spool& spool_;
    const std::function<void(const std::string&)>& onStored_;
};

}  // namespace

struct StorageServer::Impl {
    ServerSettings settings;
    Spool& spool;
    std::function<void(const std::string&)> onStored;
    DcmSharedSCPConfig config;
    T_ASC_Network* network = nullptr;

    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::list<Running> associations;

    void reap(bool all) {
        for (auto it = associations.begin(); it != associations.end();) {
            if (all || it->finished->load()) {
                it->thread.join();
                it = associations.erase(it);
            } else {
                ++it;
            }
        }
    }

    // DCMTK 3.6.7 listens on every interface and cannot be told an address: the socket it opened
    // is replaced, under the same descriptor, by one bound to the address.
    Status rebind() {
        auto* key = reinterpret_cast<PRIVATE_NETWORKKEY*>(network->network);
        const int old = key->networkSpecific.TCP.listenSocket;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
        addrinfo* found = nullptr;
        const std::string port = std::to_string(settings.port);
        if (const int err = ::getaddrinfo(settings.bind.c_str(), port.c_str(), &hints, &found); err != 0)
            return Error{"--bind " + settings.bind + ": not a numeric address (" + ::gai_strerror(err) + ")"};
        const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            const int err = errno;
            ::freeaddrinfo(found);
            return Error{"cannot listen on " + settings.bind + " port " + port + ": " + std::strerror(err)};
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::close(old);  // first, or the address would be taken by the socket on every interface
        int err = 0;
        if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 64) != 0 || ::dup2(fd, old) < 0)
            err = errno;
        ::freeaddrinfo(found);
        ::close(fd);
        if (err != 0) return Error{"cannot listen on " + settings.bind + " port " + port + ": " + std::strerror(err)};
        return Done{};
    }
};

StorageServer::StorageServer(ServerSettings settings, Spool& spool, std::function<void(const std::string&)> onStored)
    : impl_(new Impl{std::move(settings), spool, std::move(onStored), {}, nullptr, {}}) {
    DcmSCPConfig& config = *impl_->config;
    config.setAETitle(impl_->settings.aet.c_str());
    config.setPort(impl_->settings.port);
    config.setHostLookupEnabled(OFFalse);
    config.setACSETimeout(30);
    config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    config.setDIMSETimeout(60);
    OFList<OFString> syntaxes;
    for (const char* syntax : kFilmSyntaxes) syntaxes.push_back(syntax);
    for (const char* sopClass : kFilmClasses) config.addPresentationContext(sopClass, syntaxes);
    OFList<OFString> plain;
    plain.push_back(UID_LittleEndianExplicitTransferSyntax);
    plain.push_back(UID_LittleEndianImplicitTransferSyntax);
    config.addPresentationContext(UID_VerificationSOPClass, plain);
}

StorageServer::~StorageServer() {
    impl_->reap(true);
    if (impl_->network) ASC_dropNetwork(&impl_->network);
}

Status StorageServer::open() {
    const OFCondition cond = ASC_initializeNetwork(NET_ACCEPTOR, impl_->settings.port, 30, &impl_->network);
    if (cond.bad()) return Error{"cannot listen on port " + std::to_string(impl_->settings.port) + ": " + cond.text()};
    if (!impl_->settings.bind.empty()) return impl_->rebind();
    return Done{};
}

void StorageServer::run(const std::atomic<bool>& stop) {
    Impl& impl = *impl_;
    while (!stop.load()) {
        impl.reap(false);
        T_ASC_Association* association = nullptr;
        const OFCondition cond = ASC_receiveAssociation(impl.network, &association, ASC_DEFAULTMAXPDU, nullptr, nullptr,
                                                        OFFalse, DUL_NOBLOCK, 1);
        if (cond.bad()) {
            if (cond != DUL_NOASSOCIATIONREQUEST) Log(Level::Warning) << "association not received: " << cond.text();
            if (association) {
                ASC_dropAssociation(association);
                ASC_destroyAssociation(&association);
            }
            continue;
        }
        if (impl.associations.size() >= impl.settings.maxAssociations) {
            Log(Level::Warning) << "refused an association: " << impl.settings.maxAssociations << " already open";
            T_ASC_RejectParameters reject = {ASC_RESULT_REJECTEDTRANSIENT,
                                             ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                                             ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
            ASC_rejectAssociation(association, &reject);
            ASC_dropAssociation(association);
            ASC_destroyAssociation(&association);
            continue;
        }
        auto finished = std::make_shared<std::atomic<bool>>(false);
        impl.associations.push_back({std::thread([&impl, association, finished] {
                                         FilmProvider provider(impl.settings, impl.spool, impl.onStored);
                                         provider.setSharedConfig(impl.config);
                                         provider.run(association);
                                         finished->store(true);
                                     }),
                                     finished});
    }
    impl.reap(true);
}

}  // namespace orvix::node
