#include "KeylessControls.h"

#include <type_traits>

#ifdef __WXGTK3__
#include <dlfcn.h>
#endif

namespace {

#ifdef __WXGTK3__
// The few GTK calls that colour the insides of a native choice. The toolkit
// has no word for them, so they are looked up in the running program (GTK
// is loaded by the toolkit); without them the choice keeps GTK's colouring.
struct GtkStyleCalls {
    using Callback = void (*)(void* widget, void* data);
    void (*forall)(void* container, Callback callback, void* data) = nullptr;
    unsigned long (*containerType)() = nullptr;
    int (*isA)(void* instance, unsigned long type) = nullptr;
    void* (*newProvider)() = nullptr;
    int (*loadProvider)(void* provider, const char* data, long length, void** error) = nullptr;
    void* (*styleContext)(void* widget) = nullptr;
    void (*addProvider)(void* context, void* provider, unsigned priority) = nullptr;
    void (*unref)(void* object) = nullptr;

    bool Ready() const
    {
        return forall && containerType && isA && newProvider && loadProvider && styleContext && addProvider && unref;
    }
};

const GtkStyleCalls& Gtk()
{
    static const GtkStyleCalls calls = [] {
        GtkStyleCalls c;
        const auto find = [](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(RTLD_DEFAULT, name));
        };
        find(c.forall, "gtk_container_forall");
        find(c.containerType, "gtk_container_get_type");
        find(c.isA, "g_type_check_instance_is_a");
        find(c.newProvider, "gtk_css_provider_new");
        find(c.loadProvider, "gtk_css_provider_load_from_data");
        find(c.styleContext, "gtk_widget_get_style_context");
        find(c.addProvider, "gtk_style_context_add_provider");
        find(c.unref, "g_object_unref");
        return c;
    }();
    return calls;
}

// Above the theme and the desktop's settings.
constexpr unsigned STYLE_PRIORITY_USER = 800;

void AddStyleToDescendants(void* widget, void* provider)
{
    const GtkStyleCalls& gtk = Gtk();
    gtk.addProvider(gtk.styleContext(widget), provider, STYLE_PRIORITY_USER);
    if (gtk.isA(widget, gtk.containerType()))
        gtk.forall(widget, [](void* child, void* p) { AddStyleToDescendants(child, p); }, provider);
}

wxString CssColour(const wxColour& c)
{
    return wxString::Format("#%02X%02X%02X", c.Red(), c.Green(), c.Blue());
}
#endif

} // namespace

wxKeylessChoice::wxKeylessChoice(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                 const wxArrayString& choices, long style)
    : wxKeyless(TypedChars::Swallowed)
{
    Create(parent, id, pos, size, choices, style, wxDefaultValidator, "choice");
    // The toolkit gives a focused native choice no key events to hand on, so
    // it must not take the focus from the keyboard in the first place.
    SetCanFocus(false);
}

wxKeylessChoice::~wxKeylessChoice()
{
#ifdef __WXGTK3__
    if (boxStyle)
        Gtk().unref(boxStyle);
#endif
}

bool wxKeylessChoice::SetForegroundColour(const wxColour& colour)
{
    const bool changed = wxChoice::SetForegroundColour(colour);
    ColourWholeBox();
    return changed;
}

bool wxKeylessChoice::SetBackgroundColour(const wxColour& colour)
{
    const bool changed = wxChoice::SetBackgroundColour(colour);
    ColourWholeBox();
    return changed;
}

void wxKeylessChoice::ColourWholeBox()
{
#ifdef __WXGTK3__
    const GtkStyleCalls& gtk = Gtk();
    if (!gtk.Ready() || !GetHandle())
        return;
    wxString css = "* {";
    if (UseBackgroundColour())
        css += " background-color: " + CssColour(GetBackgroundColour()) + "; background-image: none;";
    if (UseForegroundColour())
        css += " color: " + CssColour(GetForegroundColour()) + ";";
    css += " }";
    if (!boxStyle)
        boxStyle = gtk.newProvider();
    const wxScopedCharBuffer text = css.utf8_str();
    gtk.loadProvider(boxStyle, text.data(), -1, nullptr);
    AddStyleToDescendants(GetHandle(), boxStyle);
#endif
}

wxKeylessButton::wxKeylessButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                                 const wxSize& size, long style)
    : wxKeyless(TypedChars::ToParent)
{
    Create(parent, id, label, pos, size, style, wxDefaultValidator, "button");
    // A focused native button gets no key events from the toolkit to hand
    // on, so a click must leave the focus with the keyboard.
    SetCanFocus(false);
}

wxKeylessBitmapButton::wxKeylessBitmapButton(wxWindow* parent, wxWindowID id, const wxBitmap& bitmap,
                                             const wxPoint& pos, const wxSize& size, long style)
    : wxKeyless(TypedChars::ToParent)
{
    Create(parent, id, bitmap, pos, size, style, wxDefaultValidator, "button");
    // Also a click must leave the focus where it was.
    SetCanFocus(false);
#ifdef __WXGTK3__
    // The theme's padding would leave a small button only a sliver of its
    // picture: a thin frame instead, the face whole inside it.
    GTKApplyCssStyle("* { padding: 1px; min-width: 0; min-height: 0; }");
#endif
}
