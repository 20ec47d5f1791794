// OBJ and MTL reading in two passes over the file's words: the first pass counts (vertices,
// normals, texture coordinates, triangles, and per group its triangles and outline edges), every
// array is then allocated once at its final size, and the second pass fills them.
//
// Both passes read the same text with the same word rules, so the second pass meets exactly the
// elements the first one counted and can never write past an array. Words are whitespace-
// separated, as fscanf's "%s" reads them into a 128-byte buffer; the rest of a line is what
// fgets would read into the same buffer. Numbers follow fscanf's "%d" and "%f".
//
// Index:
//   [SECTION] Failure and the text of a file
//   [SECTION] Numbers and face corners
//   [SECTION] Material library
//   [SECTION] First pass: counting
//   [SECTION] Filling pass
//   [SECTION] glmReadOBJ
#include "geometry/obj_reader.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/input_exit.h"

namespace {

//-----------------------------------------------------------------------------
// [SECTION] Failure and the text of a file
//-----------------------------------------------------------------------------

constexpr int kBufferSize = 128;  // the reader's word and line buffer, terminating zero included

// The model being read, for the unwinding paths below to release.
ObjModel* modelBeingRead = nullptr;

[[noreturn]] void endReading() {
    // Inside a BadInputCapture (the Python module, platform/input_exit.h) the caller keeps the
    // message and gets BadInput instead of the exit; the partial model is released first.
    if (BadInputCapture::active() != nullptr) {
        ObjModel* model = modelBeingRead;
        modelBeingRead = nullptr;
        if (model != nullptr) glmDelete(model);
        exitOnBadInput(1);
    }
    fflush(stdout);
    fflush(stderr);
#ifdef TONWELL_OBJ_READER_THROWS
    ObjModel* model = modelBeingRead;
    modelBeingRead = nullptr;
    throw ObjReaderExit{1, model};
#else
    exit(1);
#endif
}

// The whole text of one OBJ or MTL file and the read position in it. bytes.c_str() ends in a
// zero, which stops every scan at the end of the text.
struct TextFile {
    std::string name;       // as messages show it
    std::string bytes;      // the file's contents
    size_t pos = 0;         // next byte to read
    size_t tokenStart = 0;  // start of the word or number being read, for messages
};

bool loadText(const char* fileName, TextFile* text) {
    FILE* file = fopen(fileName, "r");
    if (file == nullptr) return false;
    text->name = fileName;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text->bytes.append(chunk, n);
    fclose(file);
    return true;
}

int lineOf(const TextFile& text, size_t pos) {
    int line = 1;
    for (size_t i = 0; i < pos && i < text.bytes.size(); ++i) line += text.bytes[i] == '\n';
    return line;
}

// Prints "<reader> failed: "<file>" line <n>: <problem>." as one message and ends reading.
[[noreturn]] void failAt(const TextFile& text, const char* reader, const char* format, ...) {
    char problem[512];
    va_list args;
    va_start(args, format);
    vsnprintf(problem, sizeof problem, format, args);
    va_end(args);
    printInputMessage(stdout, "%s failed: \"%s\" line %d: %s.\n", reader, text.name.c_str(),
                      lineOf(text, text.tokenStart), problem);
    endReading();
}

[[noreturn]] void outOfMemory(const char* reader, const char* fileName) {
    printInputMessage(stdout, "%s failed: out of memory reading \"%s\".\n", reader, fileName);
    endReading();
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void skipSpace(TextFile& text) {
    while (isSpace(text.bytes.c_str()[text.pos])) text.pos++;
}

// The next whitespace-separated word into `word`; false at the end of the text.
bool readWord(TextFile& text, const char* reader, char word[kBufferSize]) {
    skipSpace(text);
    if (text.pos >= text.bytes.size()) return false;
    text.tokenStart = text.pos;
    int n = 0;
    while (text.pos < text.bytes.size() && !isSpace(text.bytes[text.pos])) {
        if (n == kBufferSize - 1) failAt(text, reader, "a word longer than 127 characters");
        word[n++] = text.bytes[text.pos++];
    }
    word[n] = '\0';
    return true;
}

// Skips to the start of the next line, however long the current one is.
void skipLine(TextFile& text) {
    while (text.pos < text.bytes.size() && text.bytes[text.pos++] != '\n') {
    }
}

// The rest of the current line, without its line end, into `rest`; the read position moves to
// the next line. A rest that would not fit the line buffer together with its line end is bad
// input.
void readRest(TextFile& text, const char* reader, char rest[kBufferSize]) {
    text.tokenStart = text.pos;
    int n = 0;
    while (text.pos < text.bytes.size() && text.bytes[text.pos] != '\n') {
        if (n == kBufferSize - 2) {
            failAt(text, reader, "a line longer than %d characters after its keyword",
                   kBufferSize - 2);
        }
        rest[n++] = text.bytes[text.pos++];
    }
    if (text.pos < text.bytes.size()) text.pos++;  // the line end
    rest[n] = '\0';
}

// The first word of `line` into `word`; false when the line holds none.
bool firstWordOf(const char* line, char word[kBufferSize]) {
    while (isSpace(*line)) line++;
    int n = 0;
    while (*line != '\0' && !isSpace(*line) && n < kBufferSize - 1) word[n++] = *line++;
    word[n] = '\0';
    return n > 0;
}

//-----------------------------------------------------------------------------
// [SECTION] Numbers and face corners
//-----------------------------------------------------------------------------

// fscanf "%d" on the zero-terminated text s from s[pos]: skips whitespace, then an optional
// sign and at least one digit. Values beyond the range of long long saturate (every such index
// is out of range anyway). On failure pos is left after the whitespace.
bool scanInt(const char* s, size_t& pos, long long* value) {
    while (isSpace(s[pos])) pos++;
    size_t p = pos;
    const bool negative = s[p] == '-';
    if (s[p] == '-' || s[p] == '+') p++;
    if (s[p] < '0' || s[p] > '9') return false;
    long long v = 0;
    for (; s[p] >= '0' && s[p] <= '9'; ++p) {
        const int digit = s[p] - '0';
        v = v > (LLONG_MAX - digit) / 10 ? LLONG_MAX : v * 10 + digit;
    }
    *value = negative ? -v : v;
    pos = p;
    return true;
}

// fscanf "%f": skips whitespace, then reads one number as strtof does.
bool scanFloat(TextFile& text, float* value) {
    skipSpace(text);
    const char* start = text.bytes.c_str() + text.pos;
    char* end = nullptr;
    const float v = strtof(start, &end);
    if (end == start) return false;
    text.pos += static_cast<size_t>(end - start);
    *value = v;
    return true;
}

// The four corner formats, fixed for a whole face by its first corner.
enum CornerFormat { kVertexOnly, kVertexNormal, kVertexTexture, kVertexTextureNormal };

const char* formatName(CornerFormat format) {
    switch (format) {
        case kVertexNormal:
            return "v//n";
        case kVertexTexture:
            return "v/t";
        case kVertexTextureNormal:
            return "v/t/n";
        default:
            return "v";
    }
}

int fieldCount(CornerFormat format) {
    return format == kVertexTextureNormal ? 3 : format == kVertexOnly ? 1 : 2;
}

// The indices of one corner as the file gives them; a format without texture coordinates or
// normals leaves them absent.
struct Corner {
    long long vertex = 0, texCoord = 0, normal = 0;
    bool hasTexCoord = false, hasNormal = false;
};

// fscanf with the corner's format ("%d", "%d//%d", "%d/%d", "%d/%d/%d") on the text s from
// s[pos]; returns the number of fields converted.
int scanCorner(const char* s, size_t& pos, CornerFormat format, Corner* corner) {
    *corner = Corner();
    if (!scanInt(s, pos, &corner->vertex)) return 0;
    if (format == kVertexOnly || s[pos] != '/') return 1;
    pos++;
    if (format == kVertexNormal) {
        if (s[pos] != '/') return 1;
        pos++;
        corner->hasNormal = scanInt(s, pos, &corner->normal);
        return corner->hasNormal ? 2 : 1;
    }
    corner->hasTexCoord = scanInt(s, pos, &corner->texCoord);
    if (!corner->hasTexCoord) return 1;
    if (format == kVertexTexture || s[pos] != '/') return 2;
    pos++;
    corner->hasNormal = scanInt(s, pos, &corner->normal);
    return corner->hasNormal ? 3 : 2;
}

// The format a face's first corner fixes, tested in this order: a "//" anywhere in the word,
// then all three fields of "%d/%d/%d", then both of "%d/%d", else vertex only.
CornerFormat formatOfFirstCorner(const char* word) {
    if (strstr(word, "//") != nullptr) return kVertexNormal;
    Corner probe;
    size_t pos = 0;
    if (scanCorner(word, pos, kVertexTextureNormal, &probe) == 3) return kVertexTextureNormal;
    pos = 0;
    if (scanCorner(word, pos, kVertexTexture, &probe) == 2) return kVertexTexture;
    return kVertexOnly;
}

// Reads one face after its keyword, the same way in both passes, and hands every corner to
// onCorner(k, corner) in order (k from 0). The first corner is a word whose shape fixes the
// format; further corners are read while they begin with a number, so the word that ends the
// face (normally the next line's keyword) stays for the caller. Returns the corner count.
template <typename OnCorner>
uint32_t readFace(TextFile& text, const char* reader, OnCorner onCorner) {
    char word[kBufferSize];
    if (!readWord(text, reader, word)) failAt(text, reader, "a face without corners");
    const size_t faceStart = text.tokenStart;

    const CornerFormat format = formatOfFirstCorner(word);
    Corner corner;
    size_t wordPos = 0;
    const int fields = scanCorner(word, wordPos, format, &corner);
    if (fields == 0) failAt(text, reader, "face corner \"%s\" has no vertex index", word);
    if (fields < fieldCount(format)) {
        failAt(text, reader, "face corner \"%s\" lacks an index of its format %s", word,
               formatName(format));
    }
    onCorner(0u, corner);

    const char* s = text.bytes.c_str();
    uint32_t k = 1;
    for (;; ++k) {
        const size_t before = text.pos;
        const int n = scanCorner(s, text.pos, format, &corner);
        text.tokenStart = before;
        while (isSpace(s[text.tokenStart])) text.tokenStart++;
        if (n == 0) {
            if (k < 3) {
                text.tokenStart = faceStart;
                failAt(text, reader, "a face with fewer than three corners");
            }
            return k;
        }
        if (n < fieldCount(format)) {
            failAt(text, reader, "face corner %u lacks an index of the face's format %s", k + 1,
                   formatName(format));
        }
        onCorner(k, corner);
    }
}

//-----------------------------------------------------------------------------
// [SECTION] Material library
//-----------------------------------------------------------------------------

// One scan over a material library. Counting (fill false) returns 1 + the number of
// material names; filling writes names, colours, shininess and texture map names into
// model->materials. Both read the same words, so a fill never passes the counted entries.
uint32_t scanMaterialLibrary(TextFile& text, ObjModel* model, bool fill) {
    const char* reader = "glmReadMTL()";
    char word[kBufferSize];
    char rest[kBufferSize];
    char name[kBufferSize];
    uint32_t count = 1;
    uint32_t current = 0;
    while (readWord(text, reader, word)) {
        ObjMaterial* m = fill ? &model->materials[current] : nullptr;
        switch (word[0]) {
            case 'n':  // newmtl
                readRest(text, reader, rest);
                if (!firstWordOf(rest, name)) failAt(text, reader, "a material without a name");
                if (!fill) {
                    count++;
                    break;
                }
                current++;
                m = &model->materials[current];
                free(m->name);
                m->name = strdup(name);
                break;
            case 'K': {
                // Ka, Kd, Ks: up to three numbers, as many as convert.
                float* colour = nullptr;
                if (word[1] == 'a')
                    colour = m != nullptr ? m->ambient : nullptr;
                else if (word[1] == 'd')
                    colour = m != nullptr ? m->diffuse : nullptr;
                else if (word[1] == 's')
                    colour = m != nullptr ? m->specular : nullptr;
                else {
                    skipLine(text);
                    break;
                }
                float value;
                for (int c = 0; c < 3 && scanFloat(text, &value); ++c) {
                    if (colour != nullptr) colour[c] = value;
                }
                break;
            }
            case 'N':
                if (word[1] != 's') {
                    skipLine(text);
                    break;
                }
                {
                    float value;
                    const bool read = scanFloat(text, &value);
                    if (m != nullptr) {
                        if (read) m->shininess = value;
                        // MTL's 0..1000 exponent range onto OpenGL's 0..128.
                        m->shininess = static_cast<float>(m->shininess * 0.128);
                    }
                }
                break;
            case 'm':  // map_Kd and its kin
                readRest(text, reader, rest);
                if (m != nullptr && firstWordOf(rest, name)) {
                    free(m->textureMapName);
                    m->textureMapName = strdup(name);
                }
                break;
            default:
                skipLine(text);
                break;
        }
    }
    return count;
}

}  // namespace

void glmReadMTL(ObjModel* model, const char* libraryName) {
    char* directory = glmModelDirectory(model->fileName);
    std::string path = std::string(directory) + "/" + libraryName;
    free(directory);

    TextFile text;
    if (!loadText(path.c_str(), &text)) {
        printInputMessage(stderr, "glmReadMTL() failed: can't open material file %s.\n",
                          path.c_str());
        endReading();
    }
    const uint32_t count = scanMaterialLibrary(text, model, false);
    text.pos = 0;
    glmResetMaterials(model, count);
    scanMaterialLibrary(text, model, true);
}

namespace {

//-----------------------------------------------------------------------------
// [SECTION] First pass: counting
//-----------------------------------------------------------------------------

// Reads the numbers of a "v", "vn" or "vt" line (three, three or two), storing them in `into`
// when it is not null. Fewer numbers than that is bad input.
void readVertexNumbers(TextFile& text, const char* reader, const char* keyword, int count,
                       float* into) {
    for (int c = 0; c < count; ++c) {
        float value;
        if (!scanFloat(text, &value)) {
            failAt(text, reader, "\"%s\" needs %d numbers, found %d", keyword, count, c);
        }
        if (into != nullptr) into[c] = value;
    }
}

void glmFirstPass(TextFile& text, ObjModel* model) {
    const char* reader = "glmFirstPass()";
    char word[kBufferSize];
    char rest[kBufferSize];
    char name[kBufferSize];
    uint32_t vertexCount = 0, normalCount = 0, texCoordCount = 0, triangleCount = 0;
    ObjGroup* group = glmEnsureGroup(model, "default");

    while (readWord(text, reader, word)) {
        switch (word[0]) {
            case '#':
                skipLine(text);
                break;
            case 'v':
                if (strcmp(word, "v") == 0) {
                    readVertexNumbers(text, reader, word, 3, nullptr);
                    vertexCount++;
                } else if (word[1] == 'n') {
                    readVertexNumbers(text, reader, word, 3, nullptr);
                    normalCount++;
                } else if (word[1] == 't') {
                    readVertexNumbers(text, reader, word, 2, nullptr);
                    texCoordCount++;
                } else {
                    printInputMessage(stdout, "glmFirstPass(): Unknown token \"%s\".\n", word);
                    endReading();
                }
                break;
            case 'm':  // mtllib
                readRest(text, reader, rest);
                if (!firstWordOf(rest, name)) {
                    failAt(text, reader, "a material library line without a name");
                }
                free(model->materialLibrary);
                model->materialLibrary = strdup(name);
                glmReadMTL(model, model->materialLibrary);
                break;
            case 'g':
                readRest(text, reader, rest);
                group = glmEnsureGroup(model, rest);
                break;
            case 'f': {
                const uint32_t corners = readFace(text, reader, [](uint32_t, const Corner&) {});
                triangleCount += corners - 2;
                group->triangleCount += corners - 2;
                group->edgeCount += corners;
                break;
            }
            default:
                skipLine(text);
                break;
        }
    }
    model->vertexCount = vertexCount;
    model->normalCount = normalCount;
    model->texCoordCount = texCoordCount;
    model->triangleCount = triangleCount;
}

//-----------------------------------------------------------------------------
// [SECTION] Filling pass
//-----------------------------------------------------------------------------

// The stored form of a face index: checked against the elements the file defines.
uint32_t checkedIndex(const TextFile& text, long long index, uint32_t count, const char* what,
                      const char* plural) {
    if (index < 1 || index > static_cast<long long>(count)) {
        if (count == 0) {
            failAt(text, "glmFillPass()", "face %s index %lld, but the file defines no %s", what,
                   index, plural);
        }
        failAt(text, "glmFillPass()", "face %s index %lld outside the file's %s 1..%u", what, index,
               plural, count);
    }
    return static_cast<uint32_t>(index);
}

void glmFillPass(ObjModel* model, TextFile& text) {
    const char* reader = "glmFillPass()";
    char word[kBufferSize];
    char rest[kBufferSize];
    char name[kBufferSize];
    ObjGroup* group = glmGroupByName(model, "default");
    uint32_t material = 0;
    uint32_t nextVertex = 1, nextNormal = 1, nextTexCoord = 1, nextTriangle = 0;

    while (readWord(text, reader, word)) {
        switch (word[0]) {
            case 'v':
                if (strcmp(word, "v") == 0) {
                    readVertexNumbers(text, reader, word, 3, &model->vertices[3 * nextVertex++]);
                } else if (word[1] == 'n') {
                    readVertexNumbers(text, reader, word, 3, &model->normals[3 * nextNormal++]);
                } else if (word[1] == 't') {
                    readVertexNumbers(text, reader, word, 2, &model->texCoords[2 * nextTexCoord++]);
                }
                break;
            case 'g':
                readRest(text, reader, rest);
                group = glmGroupByName(model, rest);
                group->material = material;
                break;
            case 'u':  // usemtl
                readRest(text, reader, rest);
                if (!firstWordOf(rest, name)) failAt(text, reader, "a material use without a name");
                material = glmFindMaterial(model, name);
                group->material = material;
                break;
            case 'f': {
                const uint32_t first = nextTriangle;
                auto onCorner = [&](uint32_t k, const Corner& c) {
                    const uint32_t v =
                        checkedIndex(text, c.vertex, model->vertexCount, "vertex", "vertices");
                    const uint32_t t =
                        c.hasTexCoord ? checkedIndex(text, c.texCoord, model->texCoordCount,
                                                     "texture coordinate", "texture coordinates")
                                      : 0;
                    const uint32_t n =
                        c.hasNormal
                            ? checkedIndex(text, c.normal, model->normalCount, "normal", "normals")
                            : 0;
                    ObjTriangle& T = model->triangles[k < 3 ? first : nextTriangle];
                    uint32_t slot = k < 3 ? k : 2;
                    if (k >= 3) {
                        // Fan: the new triangle is (first corner, previous third corner, new).
                        const ObjTriangle& previous = model->triangles[nextTriangle - 1];
                        T = previous;
                        T.vertexIndices[1] = previous.vertexIndices[2];
                        T.normalIndices[1] = previous.normalIndices[2];
                        T.texCoordIndices[1] = previous.texCoordIndices[2];
                    }
                    T.vertexIndices[slot] = v;
                    T.texCoordIndices[slot] = t;
                    T.normalIndices[slot] = n;
                    T.facetNormalIndex = 0;
                    if (k >= 2) {
                        group->triangleIndices[group->triangleCount++] = nextTriangle;
                        nextTriangle++;
                    }
                };
                readFace(text, reader, onCorner);
                glmAddFaceOutline(model, group, first, nextTriangle - 1);
                break;
            }
            default:  // '#', the material-library line and everything else
                skipLine(text);
                break;
        }
    }
}

}  // namespace

//-----------------------------------------------------------------------------
// [SECTION] glmReadOBJ
//-----------------------------------------------------------------------------

// calloc of count elements of `size`, or the out-of-memory message and the end of reading.
static void* allocateOrExit(size_t count, size_t size, const char* fileName) {
    void* block = calloc(count > 0 ? count : 1, size);
    if (block == nullptr) outOfMemory("glmReadOBJ()", fileName);
    return block;
}

ObjModel* glmReadOBJ(const char* fileName) {
    TextFile text;
    if (!loadText(fileName, &text)) {
        printInputMessage(stderr, "glmReadOBJ() failed: can't open data file \"%s\".\n", fileName);
        endReading();
    }

    ObjModel* model = static_cast<ObjModel*>(calloc(1, sizeof(ObjModel)));
    if (model == nullptr) outOfMemory("glmReadOBJ()", fileName);
    model->fileName = strdup(fileName);
    modelBeingRead = model;
    glmResetMaterials(model, 1);

    glmFirstPass(text, model);

    // Every array at its final size, zero-filled: entry 0 of the 1-based arrays stays zero.
    for (ObjGroup* group = model->groups; group != nullptr; group = group->next) {
        group->triangleIndices = static_cast<uint32_t*>(
            allocateOrExit(group->triangleCount, sizeof(uint32_t), fileName));
        group->edges = static_cast<uint32_t(*)[2]>(
            allocateOrExit(group->edgeCount, 2 * sizeof(uint32_t), fileName));
        group->triangleCount = 0;
        group->edgeCount = 0;
    }
    model->vertices = static_cast<float*>(
        allocateOrExit(3 * (static_cast<size_t>(model->vertexCount) + 1), sizeof(float), fileName));
    model->triangles = static_cast<ObjTriangle*>(
        allocateOrExit(model->triangleCount, sizeof(ObjTriangle), fileName));
    if (model->normalCount != 0) {
        model->normals = static_cast<float*>(allocateOrExit(
            3 * (static_cast<size_t>(model->normalCount) + 1), sizeof(float), fileName));
    }
    if (model->texCoordCount != 0) {
        model->texCoords = static_cast<float*>(allocateOrExit(
            2 * (static_cast<size_t>(model->texCoordCount) + 1), sizeof(float), fileName));
    }

    text.pos = 0;
    glmFillPass(model, text);
    modelBeingRead = nullptr;
    return model;
}
