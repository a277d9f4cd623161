#!/usr/bin/env python3
"""Reference colour indexes of Fractint parameter entries, written from Fractint's published
behaviour, independently of the importer and its formula files.

Writes FracImport_reference.par (one entry per case, 160 x 120, drawn line by line) and
FracImport_reference.txt (per case: its name, then the colour indexes of the grid, row by row, one
byte each, zlib-compressed and base64-encoded). Run once when a case is added:
    python3 FracImport_reference.py

The rules:
- A pixel's count is the number of orbit steps taken: the first step counts 1. mandel starts with
  z1 = c + p1, which is not tested; the first step gives z2. Fractint runs maxiter - 1 steps at
  most; a pixel that never leaves is inside.
- Escaped pixel with count c: index c; 0 shows as 1; above 255 it becomes (c - 1) mod 255 + 1.
- Inside: 1 by default; a number n (-1 or "maxiter": maxiter); zmag |z|^2 maxiter / 2 + 1;
  bof60 75 sqrt(min |z|^2); bof61 the count of the closest approach to 0; epsiloncross 2 where the
  orbit first comes within 0.01 of the imaginary axis, 6 where of the real one, else maxiter;
  period the cycle length, maxiter when none is found.
- magnet types also leave when z settles within 1/32768 of 1.
- Newton types test each z before they step: newton and newtbasin (z^n = 1, n the rounded real
  part of p1) stop once |z^n - 1|^2 < 0.2, complexnewton and complexbasin (z^a = b) once
  |z^a - b|^2 < 0.2; the last z is one step further. The basins give index 1 + k for the root
  reached: for z^n = 1 the roots count from 0 counter-clockwise from 1, for z^a = b k is the whole
  number nearest to im(a log z - log b) / (2 pi), modulo the rounded real part of a. newtbasin's
  stripes (a non-zero second parameter) give 1 + (k mod 8), plus 8 on odd counts.
- Outside: real / imag count + 7 + trunc(part); summ count + re + im; mult count re / im;
  atan |arg z| 256 / pi; results <= 0 or > maxiter give 1.
- decomp=k: sector s (from 0, counter-clockwise from the positive real axis) gives s + 1.
- biomorph=b: b where |re z| or |im z| is below sqrt(bailout).
- logmap=yes: c while c / ln c <= 255 / ln maxiter, 255 ln c / ln maxiter above.
- invert=r/x/y: the pixel z becomes centre + r (z - centre) / |z - centre|^2.
- potential=m/s/0: m - s sqrt(ln|z| / 2^count), at least 1, the bailout kept.
- Corners are the centres of the corner pixels; center-mag x/y/mag/xmag gives the corners
  x -+ 4 / (3 mag xmag), y -+ 1 / mag. No view: the type's default corners.
"""
import base64
import math
import os
import zlib

import numpy as np

W, H = 160, 120
HERE = os.path.dirname(os.path.abspath(__file__))

def grid(xmin, xmax, ymin, ymax):
    x = xmin + np.arange(W) * ((xmax - xmin) / (W - 1))
    y = ymax - np.arange(H) * ((ymax - ymin) / (H - 1))
    return x[None, :] + 1j * y[:, None]


def fn(name, z):
    return {
        'sin': np.sin, 'cos': np.cos, 'sinh': np.sinh, 'cosh': np.cosh, 'exp': np.exp,
        'log': np.log, 'sqr': lambda v: v * v, 'tan': np.tan, 'ident': lambda v: v,
    }[name](z)


def stays(z, test, bailout):
    x, y = z.real, z.imag
    if test == 'real':
        return x * x < bailout
    if test == 'imag':
        return y * y < bailout
    if test == 'or':
        return (x * x < bailout) & (y * y < bailout)
    if test == 'and':
        return (x * x < bailout) | (y * y < bailout)
    if test == 'manh':
        return (abs(x) + abs(y)) ** 2 < bailout
    if test == 'manr':
        return (x + y) ** 2 < bailout
    return x * x + y * y < bailout


class Orbit:
    """Runs an orbit for every pixel: step(z, state) gives the next z; leaves(z, old) tells where
    it ends. Keeps the count, the last z and what the inside modes need."""

    def __init__(self, z0, maxiter, step, leaves, state=None):
        z = z0.astype(complex).copy()
        count = np.full(z.shape, maxiter, dtype=np.int64)
        active = np.ones(z.shape, dtype=bool)
        minmag = np.full(z.shape, 1e30)
        minat = np.zeros(z.shape)
        cross = np.zeros(z.shape)
        period = np.zeros(z.shape)
        saved = z.copy()
        savedat = np.zeros(z.shape)
        window = np.full(z.shape, 2.0)
        state = state if state is not None else {}
        with np.errstate(all='ignore'):
            for n in range(1, maxiter):
                if not active.any():
                    break
                old = z
                new, newstate = step(z, state)
                z = np.where(active, new, z)
                for k in state:
                    state[k] = np.where(active, newstate[k], state[k])
                out = active & leaves(z, old)
                count[out] = n
                active &= ~out
                # what the inside colorings follow, on the orbits still inside
                mag = z.real ** 2 + z.imag ** 2
                closer = active & (mag < minmag)
                minmag = np.where(closer, mag, minmag)
                minat = np.where(closer, n, minat)
                near = active & (cross == 0)
                cross = np.where(near & (abs(z.real) < 0.01), 2,
                                 np.where(near & (abs(z.imag) < 0.01), 6, cross))
                looking = active & (period == 0)
                d = z - saved
                found = looking & (d.real ** 2 + d.imag ** 2 < 1e-20)
                period = np.where(found, n - savedat, period)
                move = looking & ~found & (n - savedat >= window)
                saved = np.where(move, z, saved)
                savedat = np.where(move, n, savedat)
                window = np.where(move, window * 2, window)
        self.z, self.count, self.inside = z, count, active
        self.maxiter = maxiter
        self.minmag, self.minat, self.cross, self.period = minmag, minat, cross, period


def wrap(c):
    c = np.asarray(c, dtype=np.int64)
    return np.where(c > 255, (c - 1) % 255 + 1, c)


def colour(orbit, opts, bailout):
    m = orbit.maxiter
    z = orbit.z
    count = orbit.count.astype(float)
    with np.errstate(all='ignore'):
        # outside
        outside = opts.get('outside', 'iter')
        basin = opts.get('basin')
        potential = opts.get('potential')
        decomp = opts.get('decomp')
        if potential:
            maxcol, slope = potential
            mag = z.real ** 2 + z.imag ** 2
            pot = 0.5 * np.log(mag) / 2.0 ** count
            c = np.where(mag > 1, np.maximum(maxcol - slope * np.sqrt(pot), 1), maxcol)
            c = np.floor(c)
        elif basin:
            a, b, stripes = basin
            n = max(int(round(a.real)), 1)
            k = np.round(np.imag(a * np.log(z) - np.log(b)) / (2 * math.pi))
            k = k - n * np.floor(k / n)
            c = 1 + k
            if stripes:
                c = 1 + (k - 8 * np.floor(k / 8)) + 8 * (orbit.count % 2)
        elif decomp:
            sectors = 2
            while sectors * 2 <= decomp and sectors < 512:
                sectors *= 2
            a = np.angle(z)
            a = np.where(a < 0, a + 2 * math.pi, a)
            c = np.floor(a / (2 * math.pi) * sectors) + 1
        else:
            if outside == 'iter':
                c = count
            elif outside == 'real':
                c = count + 7 + np.trunc(z.real)
            elif outside == 'imag':
                c = count + 7 + np.trunc(z.imag)
            elif outside == 'summ':
                c = count + z.real + z.imag
            elif outside == 'mult':
                c = np.where(z.imag != 0, count * z.real / z.imag, count)
            elif outside == 'atan':
                c = np.abs(np.angle(z)) * 256 / math.pi
            c = np.trunc(c)
            if outside != 'iter':
                c = np.where((c <= 0) | (c > m), 1, c)
            if opts.get('logmap'):
                scale = 255 / math.log(m)
                lc = np.log(np.maximum(c, 1))
                c = np.where((c > 1) & (c > scale * lc), np.trunc(scale * lc), c)
            c = np.maximum(c, 1)
            if 'biomorph' in opts:
                limit = math.sqrt(bailout)
                c = np.where((abs(z.real) < limit) | (abs(z.imag) < limit), opts['biomorph'], c)
        out = wrap(c)
        # inside
        inside = opts.get('inside', 1)
        if inside == 'zmag':
            i = np.trunc((z.real ** 2 + z.imag ** 2) * m / 2 + 1)
        elif inside == 'bof60':
            i = np.trunc(np.sqrt(orbit.minmag) * 75)
        elif inside == 'bof61':
            i = orbit.minat
        elif inside == 'epsiloncross':
            i = np.where(orbit.cross > 0, orbit.cross, m)
        elif inside == 'period':
            i = np.where(orbit.period > 0, orbit.period, m)
        elif inside in ('maxiter', -1):
            i = np.full(z.shape, m)
        else:
            i = np.full(z.shape, inside)
        ins = wrap(i)
    return np.where(orbit.inside, ins, out).astype(np.uint8)


# --- The types, from their definitions ------------------------------------------------------

def escape(test, bailout):
    return lambda z, old: ~stays(z, test, bailout)


def simple(step):
    return lambda z, s: (step(z), s)


def type_orbit(t, c, p, fns, maxiter, test, bailout):
    p1 = complex(p[0], p[1])
    p2 = complex(p[2], p[3])
    f1, f2 = (fns + ['sin', 'sqr'])[:2]
    esc = escape(test, bailout)
    one = np.ones(c.shape, dtype=complex)

    def run(z0, step, leaves=esc, state=None):
        return Orbit(z0 * one, maxiter, step, leaves, state)

    if t == 'mandel':
        return run(c + p1, simple(lambda z: z * z + c))
    if t == 'julia':
        return run(c, simple(lambda z: z * z + p1))
    if t == 'lambda':
        return run(c, simple(lambda z: p1 * z * (1 - z)))
    if t == 'mandellambda':
        return run(0.5 + p1, simple(lambda z: c * z * (1 - z)))
    if t == 'manowar':
        return run(c + p1, lambda z, s: (z * z + s['z1'] + c, {'z1': z}), state={'z1': c + p1})
    if t == 'manowarj':
        return run(c, lambda z, s: (z * z + s['z1'] + p1, {'z1': z}), state={'z1': c.copy()})
    if t == 'spider':
        def step(z, s):
            nz = z * z + s['c']
            return nz, {'c': s['c'] / 2 + nz}
        return run(c + p1, step, state={'c': c.copy()})
    if t in ('phoenix', 'mandphoenix'):
        pp = c.real if t == 'mandphoenix' else p1.real
        qq = c.imag if t == 'mandphoenix' else p1.imag
        z0 = c + p1 if t == 'mandphoenix' else c
        return run(z0, lambda z, s: (z * z + pp + qq * s['y'], {'y': z}), state={'y': 0 * one})
    def shifted(z, shift, b):
        # (z + shift) b formed in 80-bit precision and stored as a double, as the x87 unit does:
        # the chaotic Barnsley orbits amplify any difference to numpy's double products.
        zr, zi = z.real.astype(np.longdouble) + np.longdouble(shift), z.imag.astype(np.longdouble)
        b = b * one
        br, bi = b.real.astype(np.longdouble), b.imag.astype(np.longdouble)
        return (zr * br - zi * bi).astype(float) + 1j * (zr * bi + zi * br).astype(float)

    if t == 'barnsleym1':
        return run(c + p1, simple(lambda z: np.where(z.real >= 0, shifted(z, -1, c), shifted(z, 1, c))))
    if t == 'barnsleyj1':
        return run(c, simple(lambda z: np.where(z.real >= 0, shifted(z, -1, p1), shifted(z, 1, p1))))
    if t == 'barnsleym2':
        return run(c + p1, simple(lambda z: np.where(z.real * c.imag + c.real * z.imag >= 0,
                                                     shifted(z, -1, c), shifted(z, 1, c))))
    if t == 'barnsleyj2':
        return run(c, simple(lambda z: np.where(z.real * p1.imag + p1.real * z.imag >= 0,
                                                shifted(z, -1, p1), shifted(z, 1, p1))))
    if t == 'barnsleym3':
        return run(c + p1, simple(lambda z: np.where(z.real > 0, z * z - 1, z * z - 1 + c * z.real)))
    if t == 'barnsleyj3':
        return run(c, simple(lambda z: np.where(z.real > 0, z * z - 1, z * z - 1 + p1 * z.real)))
    if t == 'sierpinski':
        def step(z):
            x, y = 2 * z.real, 2 * z.imag
            y2 = np.where(y > 1, y - 1, y)
            x2 = np.where((y <= 1) & (x > 1), x - 1, x)
            return x2 + 1j * y2
        return run(c, simple(step))
    if t.startswith('magnet'):
        # Leaves beyond the bailout, or settled within 1/32768 of the fixed point 1.
        def leaves(z, old):
            d = z - 1
            return ~stays(z, test, bailout) | (d.real ** 2 + d.imag ** 2 < 1.0 / 2 ** 30)
        q = c if t.endswith('m') else p1 * one
        if t.startswith('magnet1'):
            step = lambda z: ((z * z + q - 1) / (2 * z + q - 2)) ** 2
        else:
            step = lambda z: ((z ** 3 + 3 * (q - 1) * z + (q - 1) * (q - 2)) /
                              (3 * z * z + 3 * (q - 2) * z + (q - 1) * (q - 2) + 1)) ** 2
        return run(p1 if t.endswith('m') else c, simple(step), leaves)
    if t == 'marksmandel':
        k = c ** (p2.real - 1) if p2.real != 1 else 1
        return run(p1, simple(lambda z: k * z * z + c))
    if t == 'marksjulia':
        k = p1 ** (p2.real - 1) if p2.real != 1 else 1
        return run(c, simple(lambda z: k * z * z + p1))
    if t == 'unity':
        def step(z):
            o = z.real ** 2 + z.imag ** 2
            y = (2 - o) * z.real
            x = (2 - o) * y
            return x + 1j * y
        def leaves(z, old):
            o = z.real ** 2 + z.imag ** 2
            return ~((o <= 2) & (abs(o - 1) >= 0.01))
        return run(c, simple(step), leaves)
    if t == 'tetrate':
        return run(c + p1, simple(lambda z: np.exp(z * np.log(c))))
    if t in ('mandelfn', 'lambdafn'):
        # Leaves on the previous z: its imaginary part for sin and cos, else its real part,
        # beyond the square root of the bailout.
        limit = math.sqrt(bailout)
        part = (lambda v: v.imag) if f1 in ('sin', 'cos') else (lambda v: v.real)
        leaves = lambda z, old: abs(part(old)) >= limit
        if t == 'mandelfn':
            return run(c + p1, simple(lambda z: c * fn(f1, z)), leaves)
        return run(c, simple(lambda z: p1 * fn(f1, z)), leaves)
    if t == 'fn*fn':
        return run(c, simple(lambda z: fn(f1, z) * fn(f2, z)))
    if t == 'fn+fn':
        return run(c, simple(lambda z: p1 * fn(f1, z) + p2 * fn(f2, z)))
    if t == 'sqr(fn)':
        return run(c, simple(lambda z: fn(f1, z) ** 2))
    if t == 'sqr(1/fn)':
        return run(c, simple(lambda z: (1 / fn(f1, z)) ** 2))
    if t == 'fn(z*z)':
        return run(c, simple(lambda z: fn(f1, z * z)))
    if t == 'fn*z+z':
        return run(c, simple(lambda z: p1 * fn(f1, z) * z + p2 * z))
    if t == 'fn(z)+fn(pix)':
        return run(c + p1, simple(lambda z: fn(f1, z) + p2 * fn(f2, c)))
    if t == 'julfn+zsqrd':
        return run(c, simple(lambda z: fn(f1, z) + z * z + p1))
    if t == 'manfn+zsqrd':
        return run(p1, simple(lambda z: fn(f1, z) + z * z + c))
    if t == 'julfn+exp':
        return run(c, simple(lambda z: fn(f1, z) + np.exp(z) + p1))
    if t == 'manfn+exp':
        return run(p1, simple(lambda z: fn(f1, z) + np.exp(z) + c))
    if t == 'manzpower':
        return run(p1, simple(lambda z: z ** p2 + c))
    if t == 'julzpower':
        return run(c, simple(lambda z: z ** p2 + p1))
    if t == 'manzzpwr':
        return run(c + p1, simple(lambda z: z ** z + z ** p2 + c))
    if t == 'julzzpwr':
        return run(c, simple(lambda z: z ** z + z ** p2 + p1))
    if t in ('newton', 'newtbasin'):
        n = max(int(round(p1.real)), 2)
        near = lambda z, old: abs(old ** n - 1) ** 2 < 0.2
        return run(c, simple(lambda z: z - (z ** n - 1) / (n * z ** (n - 1))), near)
    if t in ('complexnewton', 'complexbasin'):
        near = lambda z, old: abs(old ** p1 - p2) ** 2 < 0.2
        return run(c, simple(lambda z: ((p1 - 1) * z ** p1 + p2) / (p1 * z ** p1 / z)), near)
    if t == 'mandel4':
        return run(c + p1, simple(lambda z: (z * z) ** 2 + c))
    if t == 'julia4':
        return run(c, simple(lambda z: (z * z) ** 2 + p1))
    # The fn||fn types switch from the first function to the second where |z|^2 reaches the
    # shift value, the real part of p2.
    def either(z):
        return np.where(abs(z) ** 2 < p2.real, fn(f1, z), fn(f2, z))
    if t == 'lambda(fn||fn)':
        return run(c, simple(lambda z: p1 * either(z)))
    if t == 'julia(fn||fn)':
        return run(c, simple(lambda z: either(z) + p1))
    if t == 'manlam(fn||fn)':
        return run(c + p1, simple(lambda z: c * either(z)))
    if t == 'mandel(fn||fn)':
        return run(c + p1, simple(lambda z: either(z) + c))
    if t in ('phoenixcplx', 'mandphoenixclx'):
        seed = c if t == 'mandphoenixclx' else p1
        z0 = c + p1 if t == 'mandphoenixclx' else c
        return run(z0, lambda z, s: (z * z + seed + p2 * s['y'], {'y': z}), state={'y': 0 * one})
    if t == 'cmplxmarksmand':
        k = c ** (p2 - 1) if p2 != 1 else 1
        return run(p1, simple(lambda z: k * z * z + c))
    if t == 'cmplxmarksjul':
        k = p1 ** (p2 - 1) if p2 != 1 else 1
        return run(c, simple(lambda z: k * z * z + p1))
    if t == 'burning-ship':
        # The ship stands upright in the type's view: the imaginary part runs c.imag - 2 |x y|.
        # Formed in 80-bit precision and stored as doubles, as the x87 unit does: the orbits
        # near the ship's edges are chaotic enough to show numpy's double rounding.
        cr, ci = c.real.astype(np.longdouble), c.imag.astype(np.longdouble)
        def step(z):
            x, y = np.abs(z.real).astype(np.longdouble), np.abs(z.imag).astype(np.longdouble)
            return (x * x - y * y + cr).astype(float) + 1j * (ci - 2 * x * y).astype(float)
        return run(c + p1, simple(step))
    if t in ('quat', 'quatjul'):
        # Quaternions as two complex numbers z = a + bi, w = c + di: q^2 = (z^2 - |w|^2, 2 a w).
        cz, cw = (c, p2) if t == 'quat' else (p1, p2)
        def step(z, s):
            return z * z - (s['w'].real ** 2 + s['w'].imag ** 2) + cz, {'w': 2 * z.real * s['w'] + cw}
        state = {'w': 0 * one}  # Orbit updates this dictionary in place before each test
        def leaves(z, old):
            w = state['w']
            return z.real ** 2 + z.imag ** 2 + w.real ** 2 + w.imag ** 2 >= bailout
        return run(0 * c if t == 'quat' else c, step, leaves, state)
    if t == 'halley':
        # Halley's method for z^(a+1) - z; ends once a step moves z by less than epsilon.
        a = max(int(round(p1.real)), 1)
        relax, eps = complex(p1.imag, p2.imag), p2.real
        def step(z):
            za = 1
            for _ in range(a - 1):
                za = za * z
            f2 = (a + 1) * a * za
            za = za * z
            f1 = (a + 1) * za - 1
            f = za * z - z
            return z - relax * f / (f1 - f2 * f / (2 * f1))
        return run(c, simple(step), lambda z, old: abs(z - old) ** 2 < eps)
    if t in ('hypercomplex', 'hypercomplexj'):
        # Commutative hypercomplex numbers as u = x + yi, v = z + wi: the function acts on u + iv
        # and u - iv apart.
        cu, cv = (c, p2) if t == 'hypercomplex' else (p1, p2)
        state = {'w': 0 * one}
        def step(z, s):
            a, b = fn(f1, z + 1j * s['w']), fn(f1, z - 1j * s['w'])
            return (a + b) / 2 + cu, {'w': -0.5j * (a - b) + cv}
        def leaves(z, old):
            w = state['w']
            return z.real ** 2 + z.imag ** 2 + w.real ** 2 + w.imag ** 2 >= bailout
        return run(0 * c if t == 'hypercomplex' else c, step, leaves, state)
    raise KeyError(t)


def read_defaults():
    defaults = {}
    path = os.path.join(HERE, 'fractint-type-defaults.tsv')
    for line in open(path):
        if line.startswith('#') or line.startswith('type\t'):
            continue
        name, params, corners, functions, bailout, symmetry = line.rstrip('\n').split('\t')
        defaults[name] = ([float(v) for v in params.split('/')],
                          [float(v) for v in corners.split('/')], int(functions), float(bailout))
    return defaults


# name, type, the entry's own keys (besides the size and drawing keys), options for the reference
TYPE_CASES = [
    ('mandel', '', ''), ('julia', '', ''), ('lambda', '', ''), ('mandellambda', '', ''),
    ('manowar', '', ''), ('manowarj', '', ''), ('spider', '', ''), ('phoenix', '', ''),
    ('mandphoenix', '', ''), ('barnsleym1', '', ''), ('barnsleyj1', '', ''),
    ('barnsleym2', '', ''), ('barnsleyj2', '', ''), ('barnsleym3', '', ''),
    ('barnsleyj3', '', ''), ('sierpinski', '', ''), ('magnet1m', '', ''), ('magnet1j', '', ''),
    ('magnet2m', '', ''), ('magnet2j', '', ''), ('marksmandel', '', ''),
    ('marksjulia', '', ''), ('unity', '', ''), ('tetrate', '', ''),
    ('mandelfn', 'sin', ''), ('lambdafn', 'sin', ''), ('lambdafn', 'exp', 'Exp'),
    ('fn*fn', 'sin/sqr', ''), ('fn+fn', 'sin/sqr', ''), ('sqr(fn)', 'sin', ''),
    ('sqr(1/fn)', 'sin', ''), ('fn(z*z)', 'sin', ''), ('fn*z+z', 'sin', ''),
    ('fn(z)+fn(pix)', 'sin/sqr', ''), ('julfn+zsqrd', 'sin', ''), ('manfn+zsqrd', 'sin', ''),
    ('julfn+exp', 'sin', ''), ('manfn+exp', 'sin', ''), ('manzpower', '', ''),
    ('julzpower', '', ''), ('manzzpwr', '', ''), ('julzzpwr', '', ''),
    ('newton', '', ''), ('newtbasin', '', ''), ('complexnewton', '', ''),
    ('complexbasin', '', ''), ('mandel4', '', ''), ('julia4', '', ''),
    ('lambda(fn||fn)', '', ''), ('julia(fn||fn)', '', ''), ('manlam(fn||fn)', '', ''),
    ('mandel(fn||fn)', '', ''), ('phoenixcplx', '', ''), ('mandphoenixclx', '', ''),
    ('cmplxmarksmand', '', ''), ('cmplxmarksjul', '', ''), ('burning-ship', '', ''),
    ('quat', '', ''), ('quatjul', '', ''), ('halley', '', ''), ('hypercomplex', 'sqr', ''),
    ('hypercomplexj', 'sqr', ''),
]

# name, keys, options (all on the mandel type, maxiter 150 unless the keys say otherwise)
OPTION_CASES = [
    ('Inside_Maxiter', 'inside=maxiter', {'inside': 'maxiter'}),
    ('Inside_Minus_One', 'inside=-1', {'inside': -1}),
    ('Inside_Zero', 'inside=0', {'inside': 0}),
    ('Inside_Zmag', 'inside=zmag', {'inside': 'zmag'}),
    ('Inside_Bof60', 'inside=bof60', {'inside': 'bof60'}),
    ('Inside_Bof61', 'inside=bof61', {'inside': 'bof61'}),
    ('Inside_Epsiloncross', 'inside=epsiloncross', {'inside': 'epsiloncross'}),
    ('Inside_Period', 'inside=period', {'inside': 'period'}),
    ('Outside_Real', 'outside=real', {'outside': 'real'}),
    ('Outside_Imag', 'outside=imag', {'outside': 'imag'}),
    ('Outside_Summ', 'outside=summ', {'outside': 'summ'}),
    ('Outside_Mult', 'outside=mult', {'outside': 'mult'}),
    ('Outside_Atan', 'outside=atan', {'outside': 'atan'}),
    ('Bailoutest_Real', 'bailoutest=real', {'test': 'real'}),
    ('Bailoutest_Manr', 'bailoutest=manr', {'test': 'manr'}),
    ('Decomp_2', 'decomp=2', {'decomp': 2}),
    ('Decomp_256', 'decomp=256', {'decomp': 256}),
    ('Biomorph', 'type=julia params=0.3/0.6 biomorph=0', {'type': 'julia', 'biomorph': 0}),
    ('Logmap', 'logmap=yes maxiter=1000 corners=-0.7525/-0.7425/0.1/0.1075',
     {'logmap': True, 'maxiter': 1000, 'corners': (-0.7525, -0.7425, 0.1, 0.1075)}),
    ('Invert', 'invert=1/-0.25/0 corners=-4/4/-3/3',
     {'invert': (1, -0.25, 0), 'corners': (-4, 4, -3, 3)}),
    ('Potential_Keeps_Bailout', 'potential=255/820/0', {'potential': (255, 820)}),
    ('Potential_16bit', 'potential=255/400/100/16bit', {'potential': (255, 400), 'bailout': 100}),
    ('View_Corners_Stretched', 'corners=-2/1/-1.2/1.2', {'corners': (-2, 1, -1.2, 1.2)}),
    ('View_Center_Mag', 'center-mag=-0.5/0.25/1.25', {'center': (-0.5, 0.25, 1.25, 1)}),
    ('View_Xmag_Near_One', 'center-mag=-0.5/0/1/1.004', {'center': (-0.5, 0, 1, 1.004)}),
    ('Newtbasin_Stripes', 'type=newtbasin params=4/1', {'type': 'newtbasin', 'params': [4, 1, 0, 0]}),
]


def main():
    defaults = read_defaults()
    cases = []
    for t, functions, suffix in TYPE_CASES:
        params, corners, nfn, bailout = defaults[t]
        name = 'Type_' + t.replace('(', '_').replace(')', '_').replace('*', 'x').replace('+', 'p') \
            .replace('/', 'd').replace('||', '_or_') + suffix
        keys = 'type=%s' % t + (' function=%s' % functions if functions else '')
        opts = {'type': t, 'functions': functions.split('/') if functions else []}
        cases.append((name, keys, opts))
    for name, keys, opts in OPTION_CASES:
        opts = dict(opts)
        opts.setdefault('type', 'mandel')
        if not keys.startswith('type='):
            keys = 'type=mandel ' + keys
        cases.append((name, keys, opts))

    par = ['; Fractint parameter entries whose colour indexes FracImport_reference.py computed from\n',
           '; the published behaviour of the types and options; 160 x 120, every pixel calculated.\n']
    grids = ['# name base64(zlib(160 x 120 colour indexes, row by row))\n']
    for name, keys, opts in cases:
        t = opts['type']
        params, corners, nfn, bailout = defaults[t]
        params = opts.get('params', params)
        if t == 'newtbasin':
            opts['basin'] = (complex(max(round(params[0]), 2), 0), 1, params[1] != 0)
        if t == 'complexbasin':
            opts['basin'] = (complex(params[0], params[1]), complex(params[2], params[3]), False)
        maxiter = opts.get('maxiter', 150)
        bailout = opts.get('bailout', bailout)
        test = opts.get('test', 'mod')
        if 'corners' in opts:
            corners = opts['corners']
        if 'center' in opts:
            x, y, mag, xmag = opts['center']
            corners = (x - 4 / (3 * mag * xmag), x + 4 / (3 * mag * xmag), y - 1 / mag, y + 1 / mag)
        c = grid(*corners)
        if 'invert' in opts:
            r, x, y = opts['invert']
            d = c - complex(x, y)
            c = complex(x, y) + r * d / (d.real ** 2 + d.imag ** 2)
        orbit = type_orbit(t, c, params, opts.get('functions', []), maxiter, test, bailout)
        idx = colour(orbit, opts, bailout)
        par.append('\n%s {\n  %s\n  viewwindows=1/0.75/yes/160/120 passes=1 periodicity=no\n  }\n'
                   % (name, keys))
        grids.append('%s %s\n' % (name, base64.b64encode(zlib.compress(idx.tobytes(), 9)).decode()))
        inside = int(orbit.inside.sum())
        print('%-28s inside %5d  indexes %3d..%3d' % (name, inside, idx.min(), idx.max()))
    with open(os.path.join(HERE, 'FracImport_reference.par'), 'w', newline='\r\n') as f:
        f.writelines(par)
    with open(os.path.join(HERE, 'FracImport_reference.txt'), 'w') as f:
        f.writelines(grids)


if __name__ == '__main__':
    main()
