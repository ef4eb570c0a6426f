// JSON value model: scalar and container records, the byte trie that holds
// object members, typed access, member iteration in trie post-order and
// recursive release.
#include <cstdlib>
#include <cstring>
#include <string>

#include "json.h"

static js_value_s g_jsNull = {JS_VALUE_NULL, {0}, 0, 0};
static const char g_jsEmpty[] = "";

static js_value_s* js_alloc(JS_VALUE_TYPE type) {
  js_value_s* v = static_cast<js_value_s*>(calloc(1, sizeof(js_value_s)));
  if (v) v->type = type;
  return v;
}

js_value_s* js_value_new_int(int32_t iv) {
  js_value_s* v = js_alloc(JS_VALUE_INTEGER);
  if (v) v->value.iv = iv;
  return v;
}

js_value_s* js_value_new_float(float fv) {
  js_value_s* v = js_alloc(JS_VALUE_FLOAT);
  if (v) v->value.fv = fv;
  return v;
}

js_value_s* js_value_new_bool(bool b) {
  js_value_s* v = js_alloc(JS_VALUE_BOOL);
  if (v) v->value.iv = b ? 1 : 0;
  return v;
}

js_value_s* js_value_new_string(const char* text) {
  if (!text) text = "";
  js_value_s* v = js_alloc(JS_VALUE_STRING);
  if (!v) return nullptr;
  v->value.vv = strdup(text);
  if (!v->value.vv) {
    free(v);
    return nullptr;
  }
  return v;
}

js_value_s* js_value_new_array(int capacity) {
  if (capacity <= 0) return nullptr;
  js_value_s* v = js_alloc(JS_VALUE_ARRAY);
  if (!v) return nullptr;
  v->value.vvv = static_cast<void**>(calloc(static_cast<size_t>(capacity), sizeof(void*)));
  if (!v->value.vvv) {
    free(v);
    return nullptr;
  }
  v->cap = capacity;
  return v;
}

js_value_s* js_value_new_object() {
  js_value_s* v = js_alloc(JS_VALUE_OBJECT);
  if (!v) return nullptr;
  v->value.vv = calloc(1, sizeof(js_trie_s));
  if (!v->value.vv) {
    free(v);
    return nullptr;
  }
  return v;
}

js_value_s* js_value_null() {
  return &g_jsNull;
}

int32_t js_value_int(const js_value_s* v) {
  return v && v->type == JS_VALUE_INTEGER ? v->value.iv : 0;
}

float js_value_float(const js_value_s* v) {
  return v && v->type == JS_VALUE_FLOAT ? v->value.fv : 0.0f;
}

bool js_value_bool(const js_value_s* v) {
  return v && v->type == JS_VALUE_BOOL && v->value.iv != 0;
}

const char* js_value_string(const js_value_s* v) {
  return v && v->type == JS_VALUE_STRING ? static_cast<const char*>(v->value.vv) : g_jsEmpty;
}

bool js_value_append_array(js_value_s* array, js_value_s* value) {
  if (!array || array->type != JS_VALUE_ARRAY) return false;
  array->value.vvv[array->len++] = value;
  if (array->len == array->cap) {
    if (array->cap > (1 << 29)) {
      array->len--;
      return false;
    }
    int cap = array->cap * 2;
    void** grown = static_cast<void**>(realloc(array->value.vvv, static_cast<size_t>(cap) * sizeof(void*)));
    if (!grown) {
      array->len--;
      return false;
    }
    array->value.vvv = grown;
    array->cap = cap;
  }
  return true;
}

js_value_s* js_value_get_element(const js_value_s* array, int i) {
  if (!array || array->type != JS_VALUE_ARRAY || i < 0 || i >= array->len) return nullptr;
  return static_cast<js_value_s*>(array->value.vvv[i]);
}

int js_value_array_length(const js_value_s* array) {
  return array && array->type == JS_VALUE_ARRAY ? array->len : -1;
}

static js_trie_s* js_root(const js_value_s* object) {
  return object && object->type == JS_VALUE_OBJECT ? static_cast<js_trie_s*>(object->value.vv) : nullptr;
}

bool js_value_put(js_value_s* object, const char* name, js_value_s* value) {
  js_trie_s* node = js_root(object);
  if (!node || !name) {
    js_free_value(value);
    return false;
  }
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++) {
    if (*p >= JS_TRIE_SLOTS) {
      js_free_value(value);
      return false;
    }
    js_trie_s* child = node->childNodes[*p];
    if (!child) {
      child = static_cast<js_trie_s*>(calloc(1, sizeof(js_trie_s)));
      if (!child) {
        js_free_value(value);
        return false;
      }
      child->key = *p;
      child->parentNode = node;
      node->childNodes[*p] = child;
    }
    node = child;
  }
  if (node->value != value) js_free_value(node->value);
  node->value = value;
  return true;
}

js_value_s* js_value_get(const js_value_s* object, const char* name) {
  js_trie_s* node = js_root(object);
  if (!node || !name) return nullptr;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p && node; p++)
    node = *p < JS_TRIE_SLOTS ? node->childNodes[*p] : nullptr;
  return node ? node->value : nullptr;
}

void js_value_put_int(js_value_s* object, const char* name, int32_t v) {
  if (js_root(object) && name) js_value_put(object, name, js_value_new_int(v));
}
void js_value_put_float(js_value_s* object, const char* name, float v) {
  if (js_root(object) && name) js_value_put(object, name, js_value_new_float(v));
}
void js_value_put_bool(js_value_s* object, const char* name, bool v) {
  if (js_root(object) && name) js_value_put(object, name, js_value_new_bool(v));
}
void js_value_put_string(js_value_s* object, const char* name, const char* text) {
  if (js_root(object) && name) js_value_put(object, name, js_value_new_string(text));
}

int32_t js_value_get_int(const js_value_s* object, const char* name) {
  return js_value_int(js_value_get(object, name));
}
float js_value_get_float(const js_value_s* object, const char* name) {
  return js_value_float(js_value_get(object, name));
}
bool js_value_get_bool(const js_value_s* object, const char* name) {
  return js_value_bool(js_value_get(object, name));
}
const char* js_value_get_string(const js_value_s* object, const char* name) {
  return js_value_string(js_value_get(object, name));
}

// Walks the trie in post-order (children by ascending byte, then the node)
// without recursion, so that long member names cannot exhaust the stack.
// `visit` gets each node after all of its children; `name` holds the node's
// member name while it runs.
template <class Visit>
static void js_trie_postorder(js_trie_s* root, Visit visit) {
  std::string name;
  js_trie_s* node = root;
  int next = 0;
  for (;;) {
    int c = next;
    while (c < JS_TRIE_SLOTS && !node->childNodes[c]) c++;
    if (c < JS_TRIE_SLOTS) {
      node = node->childNodes[c];
      name.push_back(static_cast<char>(node->key));
      next = 0;
      continue;
    }
    js_trie_s* parent = node->parentNode;
    int key = node->key;
    bool atRoot = node == root;
    visit(node, name);
    if (atRoot) return;
    name.pop_back();
    node = parent;
    next = key + 1;
  }
}

void js_value_iterate_members(const js_value_s* object, js_member_cb callback, void* context) {
  js_trie_s* root = js_root(object);
  if (!root || !callback) return;
  js_trie_postorder(root, [&](js_trie_s* node, const std::string& name) {
    if (node->value) callback(name.c_str(), node->value, context);
  });
}

void js_free_value(js_value_s* v) {
  if (!v || v->type == JS_VALUE_NULL || v->type == JS_VALUE_UNDEFINED) return;
  switch (v->type) {
    case JS_VALUE_STRING:
      free(v->value.vv);
      break;
    case JS_VALUE_ARRAY:
      for (int i = 0; i < v->len; i++) js_free_value(static_cast<js_value_s*>(v->value.vvv[i]));
      free(v->value.vvv);
      break;
    case JS_VALUE_OBJECT:
      js_trie_postorder(static_cast<js_trie_s*>(v->value.vv), [](js_trie_s* node, const std::string&) {
        js_free_value(node->value);
        free(node);
      });
      break;
    default:
      break;
  }
  free(v);
}
