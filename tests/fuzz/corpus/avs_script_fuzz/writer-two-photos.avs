p0=ImageSource("C:\Photos\beach.jpg", 1,1,25)
p0=BicubicResize(p0,720,480)
p0_t=Loop(p0,25)
p0=Loop(p0,75)
p1=ImageSource("C:\Photos\dunes.bmp", 1,1,25)
p1=BicubicResize(p1,720,480)
p1_t=Loop(p1,25)
p1=Loop(p1,75)
t0=Dissolve(p0_t,p1_t,25)
all=p0+t0+p1
all=BicubicResize(all,720,480)
return all
