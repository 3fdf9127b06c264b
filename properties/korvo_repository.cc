// The library's type repository and korvo_init, which registers it with the
// runtime once per process.
#include <iterator>
#include <mutex>

#include "properties/errors/korvo_exceptions.h"
#include "properties/korvo_types.h"

namespace {

struct Entry {
    const char *name;
    TypeCode type;
};

// The names in repository order; the short sequence names are aliases.
#define KORVO_EXCEPTION_ENTRY(T, layout) {"Vem_Korvo2::" #T, TC_Vem_Korvo2_##T},
const Entry kEntries[] = {
    {"Vem_Korvo2::Property", TC_Vem_Korvo2_Property},
    {"Vem_Korvo2::_sequence_Property_Properties", TC_Vem_Korvo2__sequence_Property_Properties},
    {"Vem_Korvo2::Properties", TC_Vem_Korvo2__sequence_Property_Properties},
    {"Vem_Korvo2::_sequence_Properties_PropertiesList",
     TC_Vem_Korvo2__sequence_Properties_PropertiesList},
    {"Vem_Korvo2::PropertiesList", TC_Vem_Korvo2__sequence_Properties_PropertiesList},
    {"Vem_Korvo2::_sequence_PropertiesList_PropertiesListList",
     TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList},
    {"Vem_Korvo2::PropertiesListList", TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList},
    KORVO_EXCEPTION_ENTRY(ExKorvoException, COMMON) KORVO_EXCEPTION_CHILDREN(KORVO_EXCEPTION_ENTRY){
        "Vem_Korvo2::_sequence_octet_StreamKey", TC_Vem_Korvo2__sequence_octet_StreamKey},
    {"Vem_Korvo2::StreamKey", TC_Vem_Korvo2__sequence_octet_StreamKey},
    {"Vem_Korvo2::Repeater", TC_Vem_Korvo2_Repeater},
};
#undef KORVO_EXCEPTION_ENTRY

void init_repository(TypeRepository *repository);

// Until the runtime first registers the repository, the first word holds
// its initialiser (and the first pair no code); the table ends with an
// empty name.
TcWord repository_types[2 * std::size(kEntries) + 1] = {{.repo_init = init_repository}};
// The one repository this one uses, and the NULL that ends the list.
TcWord repository_uses[2] = {};

void init_repository(TypeRepository *repository) {
    TcWord *words = repository->types;
    for (size_t i = 0; i < std::size(kEntries); ++i) {
        words[2 * i + 1].type = kEntries[i].type;
        words[2 * i].name = kEntries[i].name;
    }
    words[2 * std::size(kEntries)].name = "";
    repository->uses[0].repo = stypes_type_repository;
}

}  // namespace

extern "C" {

TypeRepository Korvo2_type_repository[1] = {{repository_types, repository_uses}};

int korvo_init(void) {
    static std::once_flag once;
    static int first_result = 0;
    bool first = false;
    std::call_once(once, [&] {
        TypeRepository *list[] = {Korvo2_type_repository, type_repository_null};
        first_result = adr_type_init(list);
        first = true;
    });
    return first ? first_result : 1;
}
}
