// A recording stand-in for the OpenGL and GLUT entry points the viewer calls, linked into unit
// tests in place of the real libraries. Each call appends one line such as
// "glRotatef(-20, 1, 0, 0)"; floats are printed with enough digits to tell every value apart.
#pragma once

#include <string>
#include <vector>

extern std::vector<std::string> gl_calls;
extern unsigned int fake_next_list; // name that the next glGenLists returns, then counts up
extern bool fake_lists_exhausted;   // glGenLists returns 0 while set
extern int fake_modifiers;          // what glutGetModifiers returns

void fake_gl_reset();

// The recorded calls that start with prefix, in order.
std::vector<std::string> gl_calls_named(const std::string &prefix);
