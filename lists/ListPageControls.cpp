#include "lists/ListPageControls.h"

#include <array>

namespace bramvell {

namespace {

using S = FilterSettings;

const std::array<ListPageControls, kListCount> kControls = {{
    {108, 1028, 1052, 1070, 1004, 1013, 1119, 1017, 1109, &S::blockedAddressesEnabled},
    {109, 1029, 1053, 1071, 1005, 1014, 1120, 1018, 1110, &S::blockedDomainsEnabled},
    {110, 1030, 1054, 1072, 1006, 1015, 1121, 1019, 1111, &S::blockedNamesEnabled},
    {112, 1044, 1060, 1074, 1007, 0, 0, 1020, 1112, &S::subjectPassphrasesEnabled},
    {113, 1046, 1061, 1075, 1008, 0, 0, 1021, 1113, &S::trustedAddressesEnabled},
    {114, 1047, 1062, 1076, 1009, 0, 0, 1022, 1114, &S::trustedDomainsEnabled},
    {115, 1048, 1063, 1077, 1010, 0, 0, 1023, 1115, &S::trustedNamesEnabled},
    {116, 1049, 1064, 1078, 1011, 0, 0, 1024, 1116, &S::userAddressesEnabled},
}};

}  // namespace

const ListPageControls& ControlsOf(ListKind kind) {
    return kControls[IndexOf(kind)];
}

}  // namespace bramvell
