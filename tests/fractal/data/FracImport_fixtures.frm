; Formulas that Fractint parameter entries of type "formula" name through formulafile and
; formulaname; the importer sets p1, p2, ... and fn1, fn2, ... by name.

; z(0) = pixel; z = z^2 + p1 + p2 fn1(z) until |z|^2 reaches the bailout (which the importer
; leaves alone: "bailout=" belongs to the built-in types only).
TwoParams {
init:
  z = #pixel
loop:
  z = sqr(z) + @p1 + @p2 * fn1(z)
bailout:
  |z| < @bailout
default:
  complex param p1
    caption = "Constant"
    default = (0, 0)
  endparam
  complex param p2
    caption = "Function factor"
    default = (0, 0)
  endparam
  func fn1
    caption = "Function"
    default = ident()
  endfunc
  float param bailout
    caption = "Bailout value"
    default = 4
  endparam
}

; z(0) = p1; z = z^3 + pixel; three parameters so that a third pair of numbers has a place.
Cubic {
init:
  z = @p1
loop:
  z = z * sqr(z) + #pixel
bailout:
  |z| < 16
default:
  complex param p1
    caption = "Start"
    default = (0, 0)
  endparam
  complex param p2
    caption = "Unused"
    default = (0, 0)
  endparam
  complex param p3
    caption = "Unused too"
    default = (0, 0)
  endparam
}

; Assigns to a predefined symbol, which the compiler refuses: an import that names it must say so.
Broken {
init:
  z = #pixel
loop:
  #maxiter = 5
  z = sqr(z) + #pixel
bailout:
  |z| < 4
}
