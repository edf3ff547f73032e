#pragma once
// The message the plugin's editor sends to set one of its state values: an
// LV2 patch:Set of the key's URID to an atom:String, whole (the atom's header
// and body), as the tests put it on the events input or hand it to the
// worker. Header only.

#include <lv2/atom/forge.h>
#include <lv2/patch/patch.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <string>
#include <vector>

namespace marovane_test {

inline std::vector<uint8_t> PatchSetAtom(LV2_URID_Map* map, const std::string& key, const std::string& value)
{
    auto id = [map](const char* uri) { return map->map(map->handle, uri); };
    std::vector<uint8_t> buffer(value.size() + 256);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, map);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), static_cast<uint32_t>(buffer.size()));
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(&forge, &frame, 0, id(LV2_PATCH__Set));
    lv2_atom_forge_key(&forge, id(LV2_PATCH__property));
    lv2_atom_forge_urid(&forge, id(key.c_str()));
    lv2_atom_forge_key(&forge, id(LV2_PATCH__value));
    lv2_atom_forge_string(&forge, value.c_str(), static_cast<uint32_t>(value.size()));
    lv2_atom_forge_pop(&forge, &frame);
    buffer.resize(sizeof(LV2_Atom) + reinterpret_cast<const LV2_Atom*>(buffer.data())->size);
    return buffer;
}

} // namespace marovane_test
