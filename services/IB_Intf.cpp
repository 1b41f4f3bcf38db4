#include "services/IB_Intf.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <vector>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/DynamicLibrary.h"
#include "platform/FloatingPoint.h"

namespace {

const char* const entryPointNames[kEntryPointCount] = {
#define FIB_ENTRY_NAME(name) #name,
    FIB_CLIENT_ENTRY_POINTS(FIB_ENTRY_NAME)
#undef FIB_ENTRY_NAME
};

using E = EntryPoint;

// Looked up in this order; a library without any of them is not one we can use.
constexpr E requiredEntryPoints[] = {
    E::BLOB_get,
    E::BLOB_put,
    E::isc_sqlcode,
    E::isc_sql_interprete,
    E::isc_interprete,
    E::isc_vax_integer,
    E::isc_blob_info,
    E::isc_open_blob2,
    E::isc_close_blob,
    E::isc_get_segment,
    E::isc_put_segment,
    E::isc_create_blob2,
    E::isc_decode_date,
    E::isc_encode_date,
    E::isc_dsql_free_statement,
    E::isc_dsql_execute2,
    E::isc_dsql_execute,
    E::isc_dsql_set_cursor_name,
    E::isc_dsql_fetch,
    E::isc_dsql_sql_info,
    E::isc_dsql_alloc_statement2,
    E::isc_dsql_prepare,
    E::isc_dsql_describe_bind,
    E::isc_dsql_describe,
    E::isc_dsql_execute_immediate,
    E::isc_dsql_exec_immed2,
    E::isc_drop_database,
    E::isc_detach_database,
    E::isc_attach_database,
    E::isc_database_info,
    E::isc_start_multiple,
    E::isc_commit_transaction,
    E::isc_commit_retaining,
    E::isc_rollback_transaction,
    E::isc_cancel_events,
    E::isc_que_events,
    E::isc_event_counts,
    E::isc_event_block,
    E::isc_free,
    E::isc_array_lookup_bounds,
    E::isc_array_get_slice,
    E::isc_array_put_slice,
    E::isc_wait_for_event,
    E::isc_transaction_info,
};
static_assert(std::size(requiredEntryPoints) == 44);

// Present from the version 6 client on (detected by isc_rollback_retaining).
constexpr E version6EntryPoints[] = {
    E::isc_service_attach,   E::isc_service_detach,   E::isc_service_query,
    E::isc_service_start,    E::isc_decode_sql_date,  E::isc_decode_sql_time,
    E::isc_decode_timestamp, E::isc_encode_sql_date,  E::isc_encode_sql_time,
    E::isc_encode_timestamp, E::isc_portable_integer,
};
static_assert(std::size(version6EntryPoints) == 11);

struct Registry {
    std::mutex lock;
    std::vector<IIBClientLibraryRef> bindings;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

const char* EntryPointName(EntryPoint entry) {
    const int index = static_cast<int>(entry);
    return index >= 0 && index < kEntryPointCount ? entryPointNames[index] : "";
}

void IIBClientLibrary::MissingEntryPoint(EntryPoint entry) const {
    throw Exception(
        Format("Can't find procedure %s in %s", {EntryPointName(entry), GetLibraryName()}));
}

TIBClientLibrary::TIBClientLibrary(std::string libraryName) : libraryName_(std::move(libraryName)) {
    // A throwing constructor runs no destructor; the unique_ptr member still
    // releases a library that was loaded before the failure.
    Load();
}

TIBClientLibrary::~TIBClientLibrary() {
    UnloadLibrary();
}

void TIBClientLibrary::UnloadLibrary() {
    // Every holder shares this binding: a later call must meet an empty slot
    // ("Can't find procedure ..."), not an address in a freed library.
    std::fill(std::begin(slots_), std::end(slots_), nullptr);
    library_.reset();
}

void* TIBClientLibrary::Lookup(EntryPoint entry, bool required) {
    void* address = library_->Symbol(EntryPointName(entry));
    if (!address && required) {
        const platform::SystemError error = platform::LastError();
        if (error.code == 0)
            throw EOSError("A call to an OS function failed", 0);
        throw EOSError(Format("System Error.  Code: %d.\r\n%s", {error.code, error.text}),
                       error.code);
    }
    slots_[static_cast<int>(entry)] = address;
    return address;
}

void TIBClientLibrary::Load() {
    library_ = platform::DynamicLibrary::Load(libraryName_);
    if (!library_)
        throw Exception(Format("Can't load library %s ", {libraryName_}));

    for (EntryPoint entry : requiredEntryPoints) Lookup(entry, true);

    if (Lookup(EntryPoint::isc_rollback_retaining, false)) {
        clientMajorVersion_ = 6;
        clientMinorVersion_ = 0;
        for (EntryPoint entry : version6EntryPoints) Lookup(entry, true);
    } else {
        clientMajorVersion_ = 5;
        clientMinorVersion_ = 0;
    }

    if (Lookup(EntryPoint::isc_get_client_version, false)) {
        Lookup(EntryPoint::isc_get_client_major_version, true);
        Lookup(EntryPoint::isc_get_client_minor_version, true);
        clientMajorVersion_ = isc_get_client_major_version();
        clientMinorVersion_ = isc_get_client_minor_version();
    } else {
        clientMinorVersion_ = 0;
    }

    platform::SetExtendedPrecision();
}

int ClientLibraryRegistry::Count() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    return static_cast<int>(r.bindings.size());
}

IIBClientLibraryRef ClientLibraryRegistry::Get(int index) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (index < 0 || index >= static_cast<int>(r.bindings.size()))
        return nullptr;
    return r.bindings[static_cast<std::size_t>(index)];
}

void ClientLibraryRegistry::Add(IIBClientLibraryRef library) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.bindings.push_back(std::move(library));
}

void ClientLibraryRegistry::Reset() {
    std::vector<IIBClientLibraryRef> dropped;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.lock);
        dropped.swap(r.bindings);
    }
    // Unloading happens outside the lock, as the last references go.
}

IIBClientLibraryRef FindOrLoadClientLibrary(const std::string& name) {
    const int count = ClientLibraryRegistry::Count();
    for (int i = 0; i < count; ++i) {
        IIBClientLibraryRef binding = ClientLibraryRegistry::Get(i);
        if (binding && binding->GetLibraryName() == name)
            return binding;
    }
    auto binding = std::make_shared<TIBClientLibrary>(name);
    ClientLibraryRegistry::Add(binding);
    return binding;
}

const std::string& DefaultLibraryName() {
    static const std::string name = "gds32.dll";
    return name;
}
