// Arbitrary bytes as a markup document: navigate everywhere, add elements, and require that what
// was written reads back exactly as the cursor's own index describes it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/XmlCursor.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Every element in document order with its inner markup and text; capped for huge inputs.
std::vector<std::string> walk(CXmlCursor& d) {
    std::vector<std::string> out;
    d.resetPosition();
    int depth = 0;
    while (out.size() < 2000) {
        if (d.findElement()) {
            out.push_back(std::to_string(depth) + d.elementName() + "|" + d.elementContent() + "|" + d.elementText());
            check(d.enterElement());
            ++depth;
        } else if (depth > 0) {
            check(d.leaveElement());
            --depth;
        } else {
            break;
        }
    }
    return out;
}

// Reads every element once: names, text, content, attributes, children.
std::vector<std::string> visit(CXmlCursor& d) {
    std::vector<std::string> names;
    d.resetPosition();
    int depth = 0, steps = 0;
    while (++steps < 4000) {
        if (d.findElement()) {
            if (names.size() < 16) names.push_back(d.elementName());
            (void)d.elementText();
            (void)d.elementContent();
            (void)d.attribute("type");
            (void)d.attribute("id");
            while (d.findChildElement()) (void)d.elementContent(d.childPosition());
            d.enterElement();
            ++depth;
        } else if (depth > 0) {
            d.leaveElement();
            --depth;
        } else {
            break;
        }
    }
    return names;
}

bool hasAmp(const std::string& s) { return s.find('&') != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CXmlCursor d;
    const bool clean = d.setDocument(text);
    const std::string firstResult = d.parseResult();
    check(clean == d.parseResult().empty());
    check(!clean || d.hasRoot());

    const std::vector<std::string> names = visit(d);
    for (const std::string& n : names) {
        d.resetPosition();
        if (d.findElementWrap(n) && d.enterElement()) {
            d.findElementWrap(n);
            d.findElementWrap(n);
            d.leaveElement();
        }
        d.findElementWrap(n + " x=1");
    }

    // Additions inside the root, with names and data taken from the input.
    const std::string slice = text.substr(0, size < 48 ? size : 48);
    const unsigned char sel = size ? data[size - 1] : 0;
    d.resetPosition();
    if (d.findElement() && d.enterElement()) {
        if (sel & 1) d.findElement();
        if (d.addElement("Added", slice)) {
            if (!hasAmp(slice)) check(d.elementText() == slice);
            if (d.setAttribute("k", slice) && !hasAmp(slice)) check(d.attribute("k") == slice);
            check(d.addChildElement("23"));
        }
        if (!names.empty()) {
            const std::string& n = names[sel % names.size()];
            d.addElement(n, "x");
            if (d.findElementWrap(n) && (sel & 2)) d.setElementText(slice);
            if (d.findElementWrap(n) && (sel & 4)) d.addChildElement(n);
            if (sel & 8) d.setAttribute(n, "v");
        }
        d.resetPosition();
        if (d.findElement()) {
            const std::string inner = d.elementContent();
            if (d.enterElement() && d.findElement()) d.addMarkup(inner);
        }
    }
    CXmlCursor back(d.document());
    if (clean) {
        check(back.parseResult().empty());
        check(walk(d) == walk(back));
    }

    // A document built from nothing always reads back, whatever the input added to it.
    CXmlCursor built("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    check(built.addElement("Message") && built.enterElement() && built.addElement("Pack"));
    check(built.setAttribute("type", slice) && built.enterElement());
    check(built.addElement("Command", slice));
    for (const std::string& n : names) built.addElement(n, slice);
    const bool fragment = built.addMarkup(text);
    check(!fragment || clean || firstResult == "Root element has sibling");
    CXmlCursor rebuilt(built.document());
    check(rebuilt.parseResult().empty());
    check(walk(built) == walk(rebuilt));
    return 0;
}
