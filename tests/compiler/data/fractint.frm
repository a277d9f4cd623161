comment {
  This file holds three formulas in the public text format.
}

Mandel3 (XAXIS) { ; cubic Mandelbrot
  z = pixel:
  z = z*z*z + pixel,
  |z| <= 4
  }

JuliaSin(XYAXIS_NOPARM) {
  z = pixel, c = p1:
  z = c * sin(z)
  |real(z)| < 50 }

Phoenix (ORIGIN) {z=pixel: z=z*z+p1 |z|<=4}
